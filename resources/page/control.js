// Hands-free control: the actions a foot switch or a tablet asks for, the pedal mappings as the program takes
// them ({"kind","channel","number","action","section","on"}), how they read, and what a learned press changes.

export const CONTROL_ACTIONS = ['playStop', 'play', 'stop', 'next', 'previous', 'nextSection', 'section', 'vamp',
    'cues', 'tap'];

// A common 4-switch pedal sending CC 80-83 on any channel: what the program uses until the page sends its own.
export const DEFAULT_MAPPINGS = [
    { kind: 'cc', channel: 0, number: 80, action: 'playStop' },
    { kind: 'cc', channel: 0, number: 81, action: 'next' },
    { kind: 'cc', channel: 0, number: 82, action: 'nextSection' },
    { kind: 'cc', channel: 0, number: 83, action: 'vamp' },
];

const KIND_WORDS = { cc: 'CC', note: 'Note', program: 'Program' };

export function bindingWords(mapping) {
    if (!mapping) return '—';
    const channel = mapping.channel === 0 ? '(any channel)' : `ch ${mapping.channel}`;
    return `${KIND_WORDS[mapping.kind] || mapping.kind} ${mapping.number} ${channel}`;
}

// What a binding does, apart from the press that does it.
export function targetOf(mapping) {
    const target = { action: mapping.action };
    if (mapping.action === 'section') target.section = mapping.section;
    if (typeof mapping.on === 'boolean') target.on = mapping.on;
    return target;
}

export const targetKey = (target) =>
    [target.action, target.section, target.on].filter((v) => v !== undefined).join(':');

const ACTION_WORDS = { playStop: 'Play/stop (as Space)', play: 'Play', stop: 'Stop', next: 'Next song',
    previous: 'Previous song', nextSection: 'Next section', tap: 'Tap tempo' };
const SWITCH_WORDS = { vamp: ['Vamp on/off', 'Vamp on', 'Vamp off'],
    cues: ['Cues on/off', 'Cues audible', 'Cues muted'] };

export function targetWords(target) {
    if (target.action === 'section') return `Section ${target.section}`;
    const words = SWITCH_WORDS[target.action];
    if (words) return words[target.on === undefined ? 0 : target.on ? 1 : 2];
    return ACTION_WORDS[target.action] || target.action;
}

// Every action has a row, sections 1 to 4 too; a target bound or being learned beyond these gets one of its own.
const FIXED_TARGETS = CONTROL_ACTIONS.flatMap((action) =>
    action === 'section' ? [1, 2, 3, 4].map((section) => ({ action, section })) : [{ action }]);

export function mappingRows(mappings, learning = null) {
    const rows = new Map();
    for (const target of [...FIXED_TARGETS, ...mappings.map(targetOf), ...(learning ? [learning] : [])]) {
        const key = targetKey(target);
        if (!rows.has(key)) rows.set(key, { key, target, words: targetWords(target), bindings: [] });
    }
    for (const mapping of mappings) rows.get(targetKey(targetOf(mapping))).bindings.push(mapping);
    const order = (t) => [CONTROL_ACTIONS.indexOf(t.action), t.section ?? 0, t.on === undefined ? 0 : t.on ? 1 : 2];
    return [...rows.values()].sort((a, b) => {
        const [x, y] = [order(a.target), order(b.target)];
        return x[0] - y[0] || x[1] - y[1] || x[2] - y[2];
    });
}

// A binding on any channel answers the press on each channel.
const samePress = (a, b) => a.kind === b.kind && a.number === b.number &&
    (a.channel === b.channel || a.channel === 0 || b.channel === 0);

export function isPress(press) {
    return press !== null && typeof press === 'object' && Object.hasOwn(KIND_WORDS, press.kind) &&
        Number.isInteger(press.channel) && press.channel >= 1 && press.channel <= 16 &&
        Number.isInteger(press.number) && press.number >= 0 && press.number <= 127;
}

// A learned press becomes the row's one binding, and no other row answers that press any more.
export function learnBinding(mappings, target, press) {
    const key = targetKey(target);
    const kept = mappings.filter((m) => !samePress(m, press) && targetKey(targetOf(m)) !== key);
    return [...kept, { kind: press.kind, channel: press.channel, number: press.number, ...target }];
}

export function clearBinding(mappings, target) {
    return mappings.filter((m) => targetKey(targetOf(m)) !== targetKey(target));
}

// What the library keeps under "control": the mappings once the musician changed them, the chosen MIDI input.
export function readControl(library) {
    const control = library !== null && typeof library === 'object' && library.control !== null &&
        typeof library.control === 'object' ? library.control : {};
    return { mappings: Array.isArray(control.midiMappings) ? control.midiMappings : null,
        input: typeof control.midiInput === 'string' ? control.midiInput : null };
}

export function controlWords(message) {
    const on = message.on === undefined ? '' : message.action === 'cues' ? (message.on ? ' audible' : ' muted')
        : message.on ? ' on' : ' off';
    return `${message.action}${message.action === 'section' ? ` ${message.section}` : ''}${on}`;
}

// What a control message asks of the page as it is `now` ({phase, vamp, guideMuted, songIndex, songCount,
// sections: of the song playing or else the selected one, nextSection: from 0, after the one playing}):
// {run, ...} as the page's own keys and strip do it, or {why} it cannot be done now.
export function controlStep(message, now) {
    const { action, on } = message;
    const notPlaying = now.phase === 'starting' ? 'the song is still starting' : 'nothing is playing';
    if (on !== undefined && (typeof on !== 'boolean' || !['vamp', 'cues'].includes(action)))
        return { why: '"on" must be true or false, and only for vamp and cues' };
    switch (action) {
        case 'playStop':
            return { run: 'playStop' };
        case 'play':
            return now.phase === 'stopped' ? { run: 'play' } : { why: 'a song is already playing' };
        case 'stop':
            return now.phase === 'stopped' ? { why: 'nothing is playing' } : { run: 'stop' };
        case 'next':
        case 'previous': {
            const step = action === 'next' ? 1 : -1;
            const to = now.songIndex + step;
            if (to >= 0 && to < now.songCount) return { run: 'song', step };
            return { why: `the ${step > 0 ? 'last' : 'first'} song of the set list is selected` };
        }
        case 'nextSection':
            if (now.phase !== 'playing') return { why: notPlaying };
            if (now.nextSection === null || now.nextSection >= now.sections)
                return { why: 'no section comes after this one' };
            return { run: 'section', section: now.nextSection };
        case 'section': {
            const n = message.section;
            if (!Number.isInteger(n) || n < 1) return { why: 'the section must be a whole number from 1' };
            if (n > now.sections)
                return { why: `the song has ${now.sections} section${now.sections === 1 ? '' : 's'}` };
            if (now.phase === 'starting') return { why: notPlaying };
            return { run: 'section', section: n - 1 };
        }
        case 'vamp':
            if (now.phase !== 'playing') return { why: notPlaying };
            return { run: 'vamp', on: on ?? !now.vamp };
        case 'cues':
            return { run: 'cues', muted: on === undefined ? !now.guideMuted : !on };
        case 'tap':
            return { run: 'tap' };
        default:
            return { why: 'this page knows no such action' };
    }
}
