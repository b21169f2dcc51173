import { parseSections } from './sections.js';
import { trimSpacesAndTabs, parseKey, chartSymbols } from './chords.js';
import { LIMITS } from './checks.js';

// ---- Songs and set lists -----------------------------------------------------------------------------------

export const SET_LIST_FORMAT = 'cadenzo-setlist';
// 2: songs in the form playSong takes (entries, padChords); 1 had sections and the chart as text.
export const SET_LIST_VERSION = 2;

export function newSong(title = 'New song') {
    return {
        title,
        sections: parseSections('In:2,V:4,Ch:4,Out:2'),
        tempo: 120,
        beatsPerBar: 4,
        countInBars: 2,
        startSection: 0,
        padKey: '',
        chart: '',
    };
}

export function isInteger(value) {
    return typeof value === 'number' && Number.isSafeInteger(value);
}

// What a saved song may hold: a bar count the player reads the same way, a label that fits the editor.
export function sectionFits(section) {
    return (
        typeof section.label === 'string' &&
        section.label.length <= LIMITS.labelLength &&
        isInteger(section.bars) &&
        Math.abs(section.bars) <= LIMITS.bars
    );
}

// A song from a file or from storage, checked field by field; optional fields take their defaults. Earlier files
// hold `sections` and the chart as text (`chart`) instead of `entries` and `padChords`.
export function normalizeSong(raw) {
    const fail = (text) => ({ ok: false, error: text });
    if (raw === null || typeof raw !== 'object' || Array.isArray(raw)) return fail('is not a song');
    if (typeof raw.title !== 'string') return fail('has no title');
    if (raw.title.length > LIMITS.titleLength) return fail('has a title that is too long');
    let sections = raw.entries ?? raw.sections;
    if (typeof sections === 'string') sections = parseSections(sections);
    if (!Array.isArray(sections)) return fail('has no sections');
    if (sections.length > LIMITS.sections) return fail(`has more than ${LIMITS.sections} sections`);
    const cleanSections = [];
    for (let i = 0; i < sections.length; i++) {
        const section = sections[i];
        if (
            section === null ||
            typeof section !== 'object' ||
            typeof section.label !== 'string' ||
            !isInteger(section.bars)
        ) {
            return fail(`has a section ${i + 1} without a name and a whole number of bars`);
        }
        if (!sectionFits(section)) return fail(`has a section ${i + 1} that is too long`);
        const own = sectionOwnMetre(section);
        if (!own) return fail(`has a section ${i + 1} with a bad tempo or beats per bar`);
        cleanSections.push({ label: section.label, bars: section.bars, ...own });
    }
    if (typeof raw.tempo !== 'number' || !(raw.tempo >= LIMITS.tempo[0] && raw.tempo <= LIMITS.tempo[1])) {
        return fail(`needs a tempo from ${LIMITS.tempo[0]} to ${LIMITS.tempo[1]} bpm`);
    }
    const song = { ...newSong(raw.title), sections: cleanSections, tempo: raw.tempo };
    const integerField = (name, [low, high]) => {
        if (raw[name] === undefined) return null;
        if (!isInteger(raw[name]) || raw[name] < low || raw[name] > high) return `has a bad ${name}`;
        song[name] = raw[name];
        return null;
    };
    const problem =
        integerField('beatsPerBar', LIMITS.beatsPerBar) ||
        integerField('countInBars', LIMITS.countInBars) ||
        integerField('startSection', [0, LIMITS.sections]);
    if (problem) return fail(problem);
    if (song.startSection >= cleanSections.length) song.startSection = 0;
    if (raw.padKey !== undefined && raw.padKey !== null && raw.padKey !== '') {
        if (typeof raw.padKey !== 'string' || parseKey(raw.padKey) === null)
            return fail('has a pad key that is not a key');
        song.padKey = trimSpacesAndTabs(raw.padKey);
    }
    const chart = storedChart(raw, cleanSections);
    if (chart === null) return fail('has a bad chord chart');
    song.chart = chart;
    // Fields of later versions travel along unread.
    const extra = Object.entries(raw).filter(([name]) => !SONG_FIELDS.includes(name));
    if (extra.length > 0) song.extra = Object.fromEntries(extra);
    return { ok: true, song };
}

// A section's own tempo and beats per bar, only those it has; null when one is out of range.
export function sectionOwnMetre(section) {
    const own = {};
    const tempo = section.tempo;
    if (tempo !== undefined && tempo !== null) {
        if (typeof tempo !== 'number' || !(tempo >= LIMITS.tempo[0] && tempo <= LIMITS.tempo[1])) return null;
        own.tempo = tempo;
    }
    const beats = section.beatsPerBar;
    if (beats !== undefined && beats !== null) {
        if (!isInteger(beats) || beats < LIMITS.beatsPerBar[0] || beats > LIMITS.beatsPerBar[1]) return null;
        own.beatsPerBar = beats;
    }
    return own;
}

const SONG_FIELDS = ['title', 'entries', 'sections', 'tempo', 'beatsPerBar', 'countInBars', 'startSection', 'padKey',
    'padChords', 'chart'];

// The chart as the page edits it; null when it is not one. Stored chords are laid out one line per section, and
// must read back as the same bars (an item "1 4" would become two). Their text may outgrow the chart's limit
// ("%" written out), their count may not.
function storedChart(raw, sections) {
    const items = raw.padChords;
    if (items === undefined || items === null) {
        if (raw.chart === undefined) return '';
        return typeof raw.chart === 'string' && raw.chart.length <= LIMITS.chartLength ? raw.chart : null;
    }
    if (!Array.isArray(items) || items.length > LIMITS.chartLength || items.some((item) => typeof item !== 'string'))
        return null;
    const lines = [];
    let at = 0;
    for (const section of sections) {
        if (at >= items.length) break;
        lines.push(items.slice(at, (at += Math.max(section.bars, 1))).join(' '));
    }
    if (at < items.length) lines.push(items.slice(at).join(' '));
    const text = lines.join('\n');
    return (chartSymbols(text) || []).length === items.length ? text : null;
}

// A section as the player and the library take it: tempo and metre only when it has its own.
export function sectionForFile(section) {
    const entry = { label: section.label, bars: section.bars };
    if (Number.isFinite(section.tempo)) entry.tempo = section.tempo;
    if (Number.isInteger(section.beatsPerBar)) entry.beatsPerBar = section.beatsPerBar;
    return entry;
}

// The song as playSong takes it, less the request and the routing, with its title: the form of a song file.
export function songForFile(song) {
    const file = {
        ...song.extra,
        title: song.title,
        entries: song.sections.map(sectionForFile),
        tempo: song.tempo,
        beatsPerBar: song.beatsPerBar,
        countInBars: song.countInBars,
        startSection: song.startSection,
    };
    if (song.padKey !== '') file.padKey = song.padKey;
    const chords = chartSymbols(song.chart);
    if (chords) file.padChords = chords;
    return file;
}

// The routing (the library's rig) goes along when given.
export function exportSetList(songs, rig) {
    return (
        JSON.stringify(
            { format: SET_LIST_FORMAT, version: SET_LIST_VERSION, songs: songs.map(songForFile), rig },
            null,
            2,
        ) + '\n'
    );
}

// All or nothing: a file with one bad song imports nothing, and says which song and why.
export function importSetList(text) {
    const fail = (error) => ({ ok: false, error });
    let data;
    try {
        data = JSON.parse(text);
    } catch (_) {
        return fail('This file is not a set list: it is not readable JSON.');
    }
    if (data === null || typeof data !== 'object' || Array.isArray(data) || data.format !== SET_LIST_FORMAT) {
        return fail('This file is not a CadenzoPlayer set list.');
    }
    if (!isInteger(data.version) || data.version > SET_LIST_VERSION || data.version < 1) {
        return fail('This set list was made by a newer version of CadenzoPlayer.');
    }
    if (!Array.isArray(data.songs)) return fail('This set list has no list of songs.');
    if (data.songs.length === 0) return fail('This set list holds no songs.');
    if (data.songs.length > LIMITS.songs) return fail(`This set list holds more than ${LIMITS.songs} songs.`);
    const songs = [];
    for (let i = 0; i < data.songs.length; i++) {
        const checked = normalizeSong(data.songs[i]);
        if (!checked.ok) {
            const title =
                data.songs[i] && typeof data.songs[i].title === 'string' ? ` "${data.songs[i].title}"` : '';
            return fail(`Song ${i + 1}${title} ${checked.error}. Nothing was imported.`);
        }
        songs.push(checked.song);
    }
    const rig = data.rig !== null && typeof data.rig === 'object' && !Array.isArray(data.rig) ? data.rig : null;
    return { ok: true, songs, rig };
}
