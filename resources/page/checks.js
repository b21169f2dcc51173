import { sectionName } from './sections.js';
import { parseKey } from './chords.js';

// ---- Checks before playing --------------------------------------------------------------------------------

export const LIMITS = {
    tempo: [20, 400],
    beatsPerBar: [1, 16],
    countInBars: [0, 8],
    bars: 999,
    songBars: 4000,
    sections: 200,
    titleLength: 200,
    labelLength: 40,
    chartLength: 20000,
    songs: 500,
};

export function songProblems(song) {
    const problems = [];
    const error = (text) => problems.push({ level: 'error', text });
    const warning = (text) => problems.push({ level: 'warning', text });
    if (!Number.isFinite(song.tempo) || song.tempo < LIMITS.tempo[0] || song.tempo > LIMITS.tempo[1]) {
        error(`Tempo must be between ${LIMITS.tempo[0]} and ${LIMITS.tempo[1]} bpm.`);
    }
    if (
        !Number.isInteger(song.beatsPerBar) ||
        song.beatsPerBar < LIMITS.beatsPerBar[0] ||
        song.beatsPerBar > LIMITS.beatsPerBar[1]
    ) {
        error(`Beats per bar must be a whole number from ${LIMITS.beatsPerBar[0]} to ${LIMITS.beatsPerBar[1]}.`);
    }
    if (
        !Number.isInteger(song.countInBars) ||
        song.countInBars < LIMITS.countInBars[0] ||
        song.countInBars > LIMITS.countInBars[1]
    ) {
        error(`Count-in must be a whole number of bars from 0 to ${LIMITS.countInBars[1]}.`);
    }
    if (song.sections.length === 0) error('The song has no sections yet.');
    if (song.sections.length > LIMITS.sections) error(`A song can have at most ${LIMITS.sections} sections.`);
    let total = 0;
    song.sections.forEach((section, index) => {
        const name = sectionName(section.label, index);
        if (!Number.isInteger(section.bars) || section.bars > LIMITS.bars) {
            error(`${name}: bars must be a whole number up to ${LIMITS.bars}.`);
            return;
        }
        if (section.tempo !== undefined && !(section.tempo >= LIMITS.tempo[0] && section.tempo <= LIMITS.tempo[1]))
            error(`${name}: tempo must be between ${LIMITS.tempo[0]} and ${LIMITS.tempo[1]} bpm.`);
        if (section.beatsPerBar !== undefined && !(Number.isInteger(section.beatsPerBar) &&
            section.beatsPerBar >= LIMITS.beatsPerBar[0] && section.beatsPerBar <= LIMITS.beatsPerBar[1]))
            error(`${name}: beats per bar must be a whole number from ${LIMITS.beatsPerBar.join(' to ')}.`);
        if (section.bars < 1) warning(`${name}: ${section.bars} bars plays as 1 bar.`);
        if (section.label.trim().length === 0) warning(`Section ${index + 1} has no name: its cue is a beep.`);
        total += Math.max(section.bars, 1);
    });
    if (total > LIMITS.songBars) error(`The song is longer than ${LIMITS.songBars} bars.`);
    if (song.padKey !== '' && parseKey(song.padKey) === null) error(`"${song.padKey}" is not a key.`);
    return problems;
}

export function routingProblems(rig, device) {
    const problems = [];
    if (!rig.deviceUid) {
        problems.push({ level: 'error', text: 'Choose an audio interface under Outputs.' });
        return problems;
    }
    const available = device ? device.channels : rig.deviceChannels;
    const used = effectiveChannelCount(rig, device);
    if (rig.click.length === 0) problems.push({ level: 'warning', text: 'The click goes to no output.' });
    if (rig.guide.length === 0) problems.push({ level: 'warning', text: 'The spoken cues go to no output.' });
    for (const [name, list] of [
        ['Click', rig.click],
        ['Cues', rig.guide],
        ['Pad', rig.pad],
    ]) {
        const silent = list.filter((c) => c > used);
        if (silent.length > 0) {
            const where = used < available ? `only ${used} outputs are in use` : `the interface has ${available}`;
            problems.push({
                level: 'warning',
                text: `${name} on output ${silent.join(', ')} stays silent: ${where}.`,
            });
        }
    }
    return problems;
}

export function effectiveChannelCount(rig, device) {
    const available = device ? device.channels : rig.deviceChannels;
    if (Number.isInteger(rig.totalChannels) && rig.totalChannels >= 1) {
        return available ? Math.min(available, rig.totalChannels) : rig.totalChannels;
    }
    return available || 0;
}

export function padProblems(song, rig, chart) {
    const problems = [];
    if (song.padKey === '') return problems;
    if (rig.pad.length === 0) {
        problems.push({ level: 'warning', text: 'The pad has a key but no output, so no pad plays.' });
    }
    if (chart.invalid > 0) {
        const bars = chart.invalid === 1 ? "1 chord symbol isn't" : `${chart.invalid} chord symbols aren't`;
        problems.push({ level: 'warning', text: `${bars} understood; those bars play the key chord.` });
    }
    if (chart.extra.length > 0) {
        problems.push({ level: 'warning', text: `${chart.extra.length} chord symbols lie beyond the last bar.` });
    }
    return problems;
}
