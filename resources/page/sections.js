

// ---- Numbers and the sections text -------------------------------------------------------------------------

export const INT64_MIN = -(2n ** 63n);
export const INT64_MAX = 2n ** 63n - 1n;

// An optional single sign and ASCII digits, nothing else, within the signed 64-bit range.
export function parseInteger(text) {
    if (typeof text !== 'string' || !/^[+-]?[0-9]+$/.test(text)) return null;
    const value = BigInt(text);
    if (value < INT64_MIN || value > INT64_MAX) return null;
    return Number(value);
}

export function splitNonEmpty(text, separator) {
    return text.split(separator).filter((piece) => piece.length > 0);
}

// Reads "In:2,V:4" the way the player does and also says which pieces it could not read.
export function parseSectionsDetailed(text) {
    const entries = [];
    const skipped = [];
    for (const piece of splitNonEmpty(String(text), ',')) {
        const parts = splitNonEmpty(piece, ':');
        const bars = parts.length === 2 ? parseInteger(parts[1]) : null;
        if (bars === null) skipped.push(piece);
        else entries.push({ label: parts[0], bars });
    }
    return { entries, skipped };
}

export function parseSections(text) {
    return parseSectionsDetailed(text).entries;
}

export function formatSections(entries) {
    return entries.map((entry) => `${entry.label}:${entry.bars}`).join(',');
}

// Why a label cannot travel through the sections text, or null when it can.
export function labelTextProblem(label) {
    if (label.length === 0) return 'empty';
    if (label.includes(',') || label.includes(':')) return 'separator';
    return null;
}

// ---- Section layout and the position while playing --------------------------------------------------------

export const MAX_LAYOUT_BEATS = 200000;
export const TIME_TOLERANCE = 1e-9;

// A section's own tempo and metre, else the song's.
export function sectionMetre(song, entry) {
    const tempo = entry && entry.tempo !== undefined && entry.tempo !== null ? entry.tempo : song.tempo;
    const beats =
        entry && entry.beatsPerBar !== undefined && entry.beatsPerBar !== null ? entry.beatsPerBar : song.beatsPerBar;
    return { tempo, beatsPerBar: beats, secondsPerBeat: 60.0 / tempo, barDuration: (60.0 / tempo) * beats };
}

// Beat times are running sums of each bar's beat length, as the player accumulates them, so that section and
// bar boundaries fall exactly where the player puts its clicks. Each section plays at its own tempo and metre,
// the count-in at the first section's.
export function layoutSong(song) {
    const countInBars = song.countInBars;
    const sections = song.sections || [];
    const metres = sections.map((entry) => sectionMetre(song, entry));
    const countIn = metres[0] || sectionMetre(song, null);
    let totalBeats = countInBars * countIn.beatsPerBar;
    sections.forEach((entry, i) => (totalBeats += Math.max(entry.bars, 1) * metres[i].beatsPerBar));
    const playable = (m) => Number.isInteger(m.beatsPerBar) && m.beatsPerBar >= 1 && m.tempo > 0 &&
        Number.isFinite(m.tempo);
    if (![countIn, ...metres].every(playable) || !(countInBars >= 0) || !(totalBeats <= MAX_LAYOUT_BEATS)) return null;
    const beatTimes = [];
    // Per bar: its first beat, its beat count; bar 0 is the count-in's first.
    const bars = [];
    let t = 0.0;
    const playBar = (metre) => {
        bars.push({ firstBeat: beatTimes.length, beats: metre.beatsPerBar, start: t });
        for (let j = 0; j < metre.beatsPerBar; j++) {
            beatTimes.push(t);
            t = metre.secondsPerBeat + t;
        }
    };
    for (let b = 0; b < countInBars; b++) playBar(countIn);
    const countInEnd = t;
    const laidOut = [];
    let songBar = 0;
    sections.forEach((entry, index) => {
        const count = Math.max(entry.bars, 1);
        const startTime = t;
        for (let b = 0; b < count; b++) playBar(metres[index]);
        laidOut.push({ index, label: entry.label, bars: count, firstBar: songBar, startTime, endTime: t,
            barDuration: metres[index].barDuration, beatsPerBar: metres[index].beatsPerBar });
        songBar += count;
    });
    return {
        secondsPerBeat: countIn.secondsPerBeat,
        barDuration: countIn.barDuration,
        beatsPerBar: countIn.beatsPerBar,
        countInBars,
        countInEnd,
        sections: laidOut,
        songBars: songBar,
        songEnd: t,
        beatTimes,
        bars,
    };
}

// What the player will play: a start section from 1 to the last cuts the song at the last bar of the section
// before it and drops the count-in; any other value plays everything with the count-in.
export function planPlayback(song) {
    const count = (song.sections || []).length;
    const start = song.startSection;
    const cut = Number.isInteger(start) && start >= 1 && start < count;
    const effectiveCountIn = cut ? 0 : song.countInBars;
    const layout = layoutSong({ ...song, countInBars: effectiveCountIn });
    if (!layout) return null;
    let offset = 0.0;
    let startBar = 0;
    let totalDuration = layout.songEnd;
    if (cut) {
        const section = layout.sections[start];
        offset = Math.max(0.0, section.startTime - layout.sections[start - 1].barDuration);
        startBar = Math.max(0, section.firstBar - 1);
        totalDuration = layout.songEnd - offset;
    }
    return { layout, cut, startSection: cut ? start : 0, effectiveCountIn, offset, startBar, totalDuration };
}

export function lastBeatAtOrBefore(beatTimes, time) {
    let low = 0;
    let high = beatTimes.length - 1;
    let found = -1;
    while (low <= high) {
        const middle = (low + high) >> 1;
        if (beatTimes[middle] <= time + TIME_TOLERANCE) {
            found = middle;
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return found;
}

// Where the song is `elapsed` seconds after playback started. `totalDuration` may come from the player's reply;
// it decides when the song is over. `songTime` is the time on the song's own layout, for a song that jumped.
export function positionAt(plan, elapsed, totalDuration = plan.totalDuration, songTime = plan.offset + elapsed) {
    const layout = plan.layout;
    const base = {
        elapsed: Math.max(0, elapsed),
        totalDuration,
        beatsPerBar: layout.beatsPerBar,
        countInBars: plan.effectiveCountIn,
        songBars: layout.songBars,
    };
    if (elapsed >= totalDuration) return { ...base, phase: 'ended' };
    const beatIndex = lastBeatAtOrBefore(layout.beatTimes, Math.max(songTime, 0));
    if (beatIndex < 0) return { ...base, phase: 'ended' };
    let bar = layout.bars.findIndex((b) => b.firstBeat > beatIndex) - 1;
    if (bar < 0) bar = layout.bars.length - 1;
    const beat = beatIndex - layout.bars[bar].firstBeat + 1;
    base.beatsPerBar = layout.bars[bar].beats;
    if (bar < plan.effectiveCountIn) {
        const next = layout.sections[0];
        return { ...base, phase: 'countIn', countInBar: bar + 1, beat, nextLabel: next ? next.label : null };
    }
    const songBar = bar - plan.effectiveCountIn;
    const section = layout.sections.find((s) => songBar < s.firstBar + s.bars);
    if (!section) return { ...base, phase: 'ended' };
    const next = layout.sections[section.index + 1];
    return {
        ...base,
        phase: 'section',
        sectionIndex: section.index,
        label: section.label,
        barInSection: songBar - section.firstBar + 1,
        sectionBars: section.bars,
        songBar: songBar + 1,
        beat,
        nextLabel: next ? next.label : null,
    };
}

export function sectionName(label, index) {
    return label.trim().length > 0 ? label : `Section ${index + 1}`;
}

export function positionText(position) {
    switch (position.phase) {
        case 'countIn':
            return { title: 'Count-in', detail: `Bar ${position.countInBar} of ${position.countInBars}` };
        case 'section':
            return {
                title: sectionName(position.label, position.sectionIndex),
                detail: `Bar ${position.barInSection} of ${position.sectionBars}`,
            };
        default:
            return { title: 'End', detail: '' };
    }
}

export function formatClock(seconds) {
    const whole = Math.max(0, Math.floor(seconds + 1e-6));
    const minutes = Math.floor(whole / 60);
    const rest = whole % 60;
    return `${minutes}:${String(rest).padStart(2, '0')}`;
}

// ---- Channels ------------------------------------------------------------------------------------------

// Musicians count outputs from 1; the player counts from 0.
export function toZeroBased(channels) {
    const valid = channels.filter((c) => Number.isInteger(c) && c >= 1);
    return [...new Set(valid)].sort((a, b) => a - b).map((c) => c - 1);
}

export function toOneBased(channels) {
    const valid = channels.filter((c) => Number.isInteger(c) && c >= 0);
    return [...new Set(valid)].sort((a, b) => a - b).map((c) => c + 1);
}
