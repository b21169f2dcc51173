

// ---- Keys and chord symbols ------------------------------------------------------------------------------

export const LETTER_CLASS = { C: 0, D: 2, E: 4, F: 5, G: 7, A: 9, B: 11 };
export const DEGREE_SEMITONES = [0, 2, 4, 5, 7, 9, 11];
export const KEY_NAMES = ['C', 'C#', 'Db', 'D', 'D#', 'Eb', 'E', 'F', 'F#', 'Gb', 'G', 'G#', 'Ab', 'A', 'A#', 'Bb', 'B'];
export const SHARP_NAMES = ['C', 'C♯', 'D', 'D♯', 'E', 'F', 'F♯', 'G', 'G♯', 'A', 'A♯', 'B'];
export const FLAT_NAMES = ['C', 'D♭', 'D', 'E♭', 'E', 'F', 'G♭', 'G', 'A♭', 'A', 'B♭', 'B'];

export function pitchClass(value) {
    return ((value % 12) + 12) % 12;
}

export function trimSpacesAndTabs(text) {
    return text.replace(/^[ \t]+|[ \t]+$/g, '');
}

export function parseKey(name) {
    if (typeof name !== 'string') return null;
    const text = trimSpacesAndTabs(name);
    if (text.length === 0) return null;
    const base = LETTER_CLASS[text[0].toUpperCase()];
    if (base === undefined || !/^[A-Ga-g]/.test(text)) return null;
    const rest = text.slice(1);
    let offset;
    if (rest === '') offset = 0;
    else if (rest === '#' || rest === '♯') offset = 1;
    else if (rest === 'b' || rest === '♭') offset = -1;
    else return null;
    return pitchClass(base + offset);
}

export function keyLabel(name) {
    return name.replace('#', '♯').replace(/^([A-G])b$/, '$1♭');
}

// The quality text may hold anything but a line break; one accidental at most.
export const CHORD_PATTERN = /^([b#♭♯]?)([1-7])([^\n\v\f\r\u0085\u2028\u2029]*)$/u;
export const BASS_PATTERN = /^([b#♭♯]?)([1-7])$/u;

export function accidentalOffset(mark) {
    if (mark === '#' || mark === '♯') return 1;
    if (mark === 'b' || mark === '♭') return -1;
    return 0;
}

// The player reads symbols as UTF-8; a lone surrogate has no such form.
export function isWellFormed(text) {
    return !/[\ud800-\udbff](?![\udc00-\udfff])|(?:^|[^\ud800-\udbff])[\udc00-\udfff]/.test(text);
}

export function parseChord(symbol, key) {
    if (typeof symbol !== 'string' || !isWellFormed(symbol)) return null;
    const text = symbol.startsWith('<') ? symbol.slice(1) : symbol;
    const parts = text.split('/');
    if (parts.length >= 3) return null;
    const match = CHORD_PATTERN.exec(parts[0]);
    if (!match) return null;
    const root = pitchClass(key + DEGREE_SEMITONES[Number(match[2]) - 1] + accidentalOffset(match[1]));
    const quality = match[3];
    const sus2 = quality.includes('sus2');
    const sus = !sus2 && quality.includes('sus');
    const minor = quality.startsWith('-');
    const diminished = quality.includes('dim') || quality.includes('°');
    const augmented = quality.includes('aug') || quality.includes('+');
    const majorSeventh = quality.includes('maj7') || quality.includes('M7');
    const third = sus2 ? 2 : sus ? 5 : minor || diminished ? 3 : 4;
    const fifth = diminished ? 6 : augmented ? 8 : 7;
    const tones = [root, pitchClass(root + third), pitchClass(root + fifth)];
    if (majorSeventh) tones.push(pitchClass(root + 11));
    else if (quality.includes('7')) tones.push(pitchClass(root + (diminished ? 9 : 10)));
    let bass = null;
    if (parts.length === 2) {
        const bassMatch = BASS_PATTERN.exec(parts[1]);
        if (!bassMatch) return null;
        const bassClass = pitchClass(
            key + DEGREE_SEMITONES[Number(bassMatch[2]) - 1] + accidentalOffset(bassMatch[1]),
        );
        if (bassClass !== root) bass = bassClass;
    }
    return { root, tones, bass };
}

export const TRIAD_NAMES = { '4,7': '', '3,7': 'm', '3,6': 'dim', '4,8': '+', '2,7': 'sus2', '5,7': 'sus4' };
export const SEVENTH_NAMES = {
    '4,7,10': '7',
    '4,7,11': 'maj7',
    '3,7,10': 'm7',
    '3,7,11': 'm(maj7)',
    '3,6,9': 'dim7',
    '3,6,10': 'm7♭5',
    '4,8,10': '+7',
    '4,8,11': '+maj7',
    '5,7,10': '7sus4',
    '2,7,10': '7sus2',
    '5,7,11': 'maj7sus4',
    '2,7,11': 'maj7sus2',
};

export function qualityName(intervals) {
    const key = intervals.join(',');
    const known = intervals.length === 2 ? TRIAD_NAMES[key] : SEVENTH_NAMES[key];
    if (known !== undefined) return known;
    const [third, fifth, seventh] = intervals;
    let name = { 2: 'sus2', 3: 'm', 4: '', 5: 'sus4' }[third] ?? '';
    if (seventh === 11) name += 'maj7';
    else if (seventh === 10) name += '7';
    else if (seventh === 9) name += '°7';
    if (fifth === 6) name += '♭5';
    if (fifth === 8) name += '♯5';
    return name;
}

export function prefersFlats(keyName) {
    return /^[A-Ga-g](b|♭)$/.test(trimSpacesAndTabs(keyName)) || /^[CFcf]$/.test(trimSpacesAndTabs(keyName));
}

// The chord as letter names in the key, for example "Am" for 6- in C.
export function chordName(chord, keyName) {
    const names = prefersFlats(keyName) ? FLAT_NAMES : SHARP_NAMES;
    const intervals = chord.tones.slice(1).map((tone) => pitchClass(tone - chord.root));
    const bass = chord.bass === null ? '' : `/${names[chord.bass]}`;
    return names[chord.root] + qualityName(intervals) + bass;
}

// Chart text to one symbol per bar: blanks and bar lines separate, "%" repeats the bar before, and "[1 4]"
// is one bar shared evenly by its chords (sent with single spaces between them).
export function splitChart(text) {
    const symbols = [];
    for (const token of String(text).match(/\[[^\]]*\]?|[^\s|[]+/g) || []) {
        if (token === '%') {
            const previous = symbols[symbols.length - 1];
            symbols.push({ typed: token, symbol: previous ? previous.symbol : null });
        } else {
            const shared = /^\[([^]*)\]$/.exec(token);
            symbols.push({ typed: token, symbol: shared ? `[${shared[1].trim().split(/\s+/).join(' ')}]` : token });
        }
    }
    return symbols;
}

// The chords of one bar's symbol, in order; none for an empty "[]".
export function barChords(symbol) {
    const shared = /^\[(.*)\]$/.exec(symbol);
    return shared ? shared[1].split(' ').filter((chord) => chord.length > 0) : [symbol];
}

// What the player receives as padChords (absent for a drone pad on the key alone).
export function chartSymbols(text) {
    const symbols = splitChart(text);
    if (symbols.length === 0) return null;
    return symbols.map((entry) => (entry.symbol === null ? '%' : entry.symbol));
}

// One row per song bar: the symbol the player gets, whether it reads it, the chord it plays.
// Bars the player cannot read, and bars without a symbol, sound as the key's chord.
export function chartBars(song, plan) {
    const key = parseKey(song.padKey);
    const symbols = splitChart(song.chart || '');
    const sections = plan ? plan.layout.sections : [];
    const startBar = plan ? plan.startBar : 0;
    const bars = [];
    for (const section of sections) {
        for (let b = 0; b < section.bars; b++) {
            const songBar = section.firstBar + b;
            const entry = symbols[songBar];
            const chords = entry && entry.symbol !== null ? barChords(entry.symbol) : [];
            const readable = chords.length > 0 && chords.every((c) => parseChord(c, 0) !== null);
            bars.push({
                songBar,
                sectionIndex: section.index,
                label: section.label,
                barInSection: b + 1,
                typed: entry ? entry.typed : null,
                symbol: entry ? entry.symbol : null,
                status: !entry ? 'empty' : readable ? 'ok' : 'invalid',
                name: readable && key !== null
                    ? chords.map((c) => chordName(parseChord(c, key), song.padKey)).join(' ') : null,
                skipped: songBar < startBar,
            });
        }
    }
    const songBars = plan ? plan.layout.songBars : 0;
    const extra = symbols.slice(songBars).map((entry) => entry.typed);
    return { bars, extra, invalid: bars.filter((bar) => bar.status === 'invalid').length };
}
