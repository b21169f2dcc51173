// Foot switches and tablets: bindings in words, what a learned press replaces, and what each control message
// asks of the page as it stands.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import * as L from '../../resources/page/logic.js';

const cc = (number, action, channel = 0, extra = {}) => ({ kind: 'cc', channel, number, action, ...extra });

test('bindings and rows read as a musician says them', () => {
    const table = [[cc(80, 'play'), 'CC 80 (any channel)'], [{ kind: 'note', channel: 10, number: 36 },
        'Note 36 ch 10'], [{ kind: 'program', channel: 1, number: 5 }, 'Program 5 ch 1'], [null, '—']];
    for (const [mapping, words] of table) assert.equal(L.bindingWords(mapping), words);
    const rows = L.mappingRows([cc(1, 'section', 0, { section: 9 }), cc(2, 'cues', 0, { on: false }), cc(3, 'vamp')],
        { action: 'section', section: 6 });
    assert.deepEqual(rows.map((r) => `${r.words}=${r.bindings.length}`), ['Play/stop (as Space)=0', 'Play=0', 'Stop=0',
        'Next song=0', 'Previous song=0', 'Next section=0', 'Section 1=0', 'Section 2=0', 'Section 3=0', 'Section 4=0',
        'Section 6=0', 'Section 9=1', 'Vamp on/off=1', 'Cues on/off=0', 'Cues muted=1', 'Tap tempo=0']);
});

test('a learned press becomes its row\'s one binding and leaves every row it would also trigger', () => {
    const mappings = [cc(80, 'playStop'), cc(81, 'next', 2), cc(81, 'play', 3), cc(82, 'section', 0, { section: 2 }),
        { kind: 'note', channel: 0, number: 81, action: 'tap' }];
    assert.deepEqual(L.learnBinding(mappings, { action: 'play' }, { kind: 'cc', channel: 2, number: 80 }),
        [cc(81, 'next', 2), cc(82, 'section', 0, { section: 2 }), mappings[4], cc(80, 'play', 2)]);
    assert.deepEqual(L.learnBinding(mappings, { action: 'vamp', on: true }, { kind: 'cc', channel: 3, number: 82 }),
        [cc(80, 'playStop'), cc(81, 'next', 2), cc(81, 'play', 3), mappings[4], cc(82, 'vamp', 3, { on: true })]);
    assert.deepEqual(L.clearBinding(mappings, { action: 'section', section: 2 }),
        [...mappings.slice(0, 3), mappings[4]]);
    for (const press of [{ kind: 'cc', channel: 0, number: 1 }, { kind: 'cc', channel: 1, number: 128 },
        { kind: 'pitch', channel: 1, number: 1 }, null]) assert.equal(L.isPress(press), false, JSON.stringify(press));
});

test('a control message does what the page\'s key or strip does, or says why it cannot', () => {
    const playing = { phase: 'playing', vamp: false, guideMuted: false, songIndex: 0, songCount: 2, sections: 3,
        nextSection: 1 };
    const stopped = { ...playing, phase: 'stopped', songIndex: 1, nextSection: null };
    const a = (action, more) => ({ action, ...more });
    const onOnly = { why: '"on" must be true or false, and only for vamp and cues' };
    const table = [[a('playStop'), stopped, { run: 'playStop' }], [a('play'), stopped, { run: 'play' }],
        [a('play'), playing, { why: 'a song is already playing' }], [a('stop'), playing, { run: 'stop' }],
        [a('stop'), stopped, { why: 'nothing is playing' }], [a('next'), playing, { run: 'song', step: 1 }],
        [a('next'), stopped, { why: 'the last song of the set list is selected' }],
        [a('previous'), stopped, { run: 'song', step: -1 }],
        [a('previous'), playing, { why: 'the first song of the set list is selected' }],
        [a('nextSection'), playing, { run: 'section', section: 1 }],
        [a('nextSection'), { ...playing, nextSection: 3 }, { why: 'no section comes after this one' }],
        [a('nextSection'), { ...playing, phase: 'starting' }, { why: 'the song is still starting' }],
        [a('section', { section: 3 }), playing, { run: 'section', section: 2 }],
        [a('section', { section: 1 }), stopped, { run: 'section', section: 0 }],
        [a('section', { section: 4 }), playing, { why: 'the song has 3 sections' }],
        [a('section', { section: 0 }), playing, { why: 'the section must be a whole number from 1' }],
        [a('vamp'), { ...playing, vamp: true }, { run: 'vamp', on: false }],
        [a('vamp'), stopped, { why: 'nothing is playing' }],
        [a('vamp', { on: true }), { ...playing, vamp: true }, { run: 'vamp', on: true }],
        [a('cues'), stopped, { run: 'cues', muted: true }],
        [a('cues', { on: false }), stopped, { run: 'cues', muted: true }],
        [a('cues', { on: true }), { ...playing, guideMuted: true }, { run: 'cues', muted: false }],
        [a('tap', { on: true }), playing, onOnly], [a('vamp', { on: 1 }), playing, onOnly],
        [a('tap'), stopped, { run: 'tap' }], [a('rewind'), playing, { why: 'this page knows no such action' }]];
    for (const [message, now, step] of table)
        assert.deepEqual(L.controlStep(message, now), step, JSON.stringify(message));
    assert.deepEqual([{ action: 'section', section: 3 }, { action: 'vamp', on: true }, { action: 'cues', on: false }]
        .map(L.controlWords), ['section 3', 'vamp on', 'cues muted']);
});

test('the library keeps the mappings and the input under "control"; anything else there reads as none', () => {
    const table = [[{ control: { midiMappings: [cc(80, 'play')], midiInput: 'USB MIDI Pedal', other: 1 } },
        { mappings: [cc(80, 'play')], input: 'USB MIDI Pedal' }], [{ control: { midiMappings: {}, midiInput: 5 } },
        { mappings: null, input: null }], [{ control: null }, { mappings: null, input: null }],
        [{}, { mappings: null, input: null }]];
    for (const [library, read] of table) assert.deepEqual(L.readControl(library), read);
});
