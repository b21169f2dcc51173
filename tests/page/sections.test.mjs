import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadLogic, plain } from './load-logic.mjs';

const L = loadLogic();
const read = (text) => plain(L.parseSections(text)).map((e) => `${e.label}|${e.bars}`);

test('sections text is read as the player reads it', () => {
    const table = [
        ['In:2,V:4,Ch:4,Out:2', ['In|2', 'V|4', 'Ch|4', 'Out|2']],
        ['In:2,,V:4,', ['In|2', 'V|4']],
        [',,In:2', ['In|2']],
        ['V::4', ['V|4']],
        [':V:4', ['V|4']],
        ['V:4:', ['V|4']],
        ['V:4:2', []],
        ['V', []],
        [':4', []],
        ['V:x', []],
        ['V:4.5', []],
        ['V:+3', ['V|3']],
        ['V:-1', ['V|-1']],
        ['V:0', ['V|0']],
        ['V:++3', []],
        ['V:+', []],
        ['Intro 2:2', ['Intro 2|2']],
        [' V :2', [' V |2']],
        ['V: 4', []],
        ['V:4 ', []],
        ['V:٤', []],
        ['', []],
        ['Ch:4,V:x,Out:2', ['Ch|4', 'Out|2']],
    ];
    for (const [text, expected] of table) assert.deepEqual(read(text), expected, text);
});

test('bar counts are limited to the signed 64-bit range', () => {
    assert.equal(L.parseInteger('9223372036854775807'), 9223372036854775807);
    assert.equal(L.parseInteger('-9223372036854775808'), -9223372036854775808);
    assert.equal(L.parseInteger('9223372036854775808'), null);
    assert.equal(L.parseInteger('-9223372036854775809'), null);
    assert.deepEqual(read('V:99999999999999999999'), []);
});

test('unreadable pieces are reported, readable ones kept in order', () => {
    const result = plain(L.parseSectionsDetailed('In:2,V:4.5,Ch:4,Br'));
    assert.deepEqual(result.entries, [
        { label: 'In', bars: 2 },
        { label: 'Ch', bars: 4 },
    ]);
    assert.deepEqual(result.skipped, ['V:4.5', 'Br']);
});

test('sections are written back as text that reads the same', () => {
    const entries = [
        { label: 'Intro 2', bars: 2 },
        { label: 'V', bars: 4 },
        { label: 'Out', bars: -1 },
    ];
    const text = L.formatSections(entries);
    assert.equal(text, 'Intro 2:2,V:4,Out:-1');
    assert.deepEqual(plain(L.parseSections(text)), entries);
    assert.equal(L.formatSections([]), '');
});

test('labels that the text form cannot carry are recognised', () => {
    assert.equal(L.labelTextProblem('Ch'), null);
    assert.equal(L.labelTextProblem(' Ch 2'), null);
    assert.equal(L.labelTextProblem(''), 'empty');
    assert.equal(L.labelTextProblem('A,B'), 'separator');
    assert.equal(L.labelTextProblem('Ch:2'), 'separator');
});
