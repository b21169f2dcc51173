import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadLogic, plain } from './load-logic.mjs';

const L = loadLogic();
const chord = (symbol, key = 0) => {
    const c = L.parseChord(symbol, key);
    return c === null ? null : plain(c);
};

test('keys: letters, sharps and flats in both spellings, nothing else', () => {
    const table = [
        ['C', 0],
        ['c', 0],
        ['Bb', 10],
        ['B♭', 10],
        ['F#', 6],
        ['F♯', 6],
        ['Cb', 11],
        ['B#', 0],
        ['E#', 5],
        ['\tG ', 7],
        ['Am', null],
        ['C#m', null],
        ['H', null],
        ['Bbb', null],
        ['', null],
        ['  ', null],
        ['Ḃ', null],
        ['C #', null],
        [' D\n', null],
    ];
    for (const [name, expected] of table) assert.equal(L.parseKey(name), expected, JSON.stringify(name));
    for (const name of L.KEY_NAMES) assert.notEqual(L.parseKey(name), null, name);
    assert.equal(new Set(L.KEY_NAMES.map(L.parseKey)).size, 12);
});

test('chord symbols the player understands', () => {
    assert.deepEqual(chord('1'), { root: 0, tones: [0, 4, 7], bass: null });
    assert.deepEqual(chord('6-'), { root: 9, tones: [9, 0, 4], bass: null });
    assert.deepEqual(chord('57'), { root: 7, tones: [7, 11, 2, 5], bass: null });
    assert.deepEqual(chord('7°7'), { root: 11, tones: [11, 2, 5, 8], bass: null });
    assert.deepEqual(chord('1sus2'), { root: 0, tones: [0, 2, 7], bass: null });
    assert.deepEqual(chord('5aug7'), { root: 7, tones: [7, 11, 3, 5], bass: null });
    assert.deepEqual(chord('#4-7'), { root: 6, tones: [6, 9, 1, 4], bass: null });
    assert.deepEqual(chord('5/♭7'), { root: 7, tones: [7, 11, 2], bass: 10 });
    assert.deepEqual(chord('1/1'), { root: 0, tones: [0, 4, 7], bass: null });
    assert.deepEqual(chord('<4'), { root: 5, tones: [5, 9, 0], bass: null });
    assert.deepEqual(chord('1m'), { root: 0, tones: [0, 4, 7], bass: null });
    assert.deepEqual(chord('4/5', 10), { root: 3, tones: [3, 7, 10], bass: 5 });
    assert.equal(chord('1-sus').tones[1], 5);
    assert.deepEqual(chord('1maj7dim').tones, [0, 3, 6, 11]);
    assert.deepEqual(chord('7').tones, [11, 3, 6]);
});

test('chord symbols the player rejects', () => {
    const rejected = [
        '8',
        '0',
        'x',
        '',
        '1/',
        '1/3/5',
        '1/x',
        '1/3m',
        ' 1',
        '1/ 3',
        '##1',
        'b#1',
        '%',
        '|',
        '1\n',
        '1\u2028',
        'I',
        '\ud800',
    ];
    for (const symbol of rejected) assert.equal(L.parseChord(symbol, 0), null, JSON.stringify(symbol));
});

test('chords are named with letters in the key', () => {
    const name = (symbol, key) => L.chordName(L.parseChord(symbol, L.parseKey(key)), key);
    assert.equal(name('6-', 'C'), 'Am');
    assert.equal(name('b7', 'C'), 'B♭');
    assert.equal(name('5/7', 'Bb'), 'F/A');
    assert.equal(name('57', 'G'), 'D7');
    assert.equal(name('2-7', 'F'), 'Gm7');
    assert.equal(name('7°7', 'C'), 'Bdim7');
    assert.equal(name('4maj7', 'E'), 'Amaj7');
    assert.equal(name('3', 'E'), 'G♯');
    assert.equal(name('1sus', 'D'), 'Dsus4');
});

test('a chart splits into one symbol per bar; % repeats the bar before', () => {
    const symbols = plain(L.splitChart(' 1 4 |5\n\n6-  %  | %'));
    assert.deepEqual(
        symbols.map((s) => s.symbol),
        ['1', '4', '5', '6-', '6-', '6-'],
    );
    assert.deepEqual(
        symbols.map((s) => s.typed),
        ['1', '4', '5', '6-', '%', '%'],
    );
    assert.deepEqual(plain(L.chartSymbols('1 % 4')), ['1', '1', '4']);
    assert.deepEqual(plain(L.chartSymbols('% 1')), ['%', '1']);
    assert.equal(L.chartSymbols('  | \n'), null);
});

test('each chart symbol is placed on its song bar and section', () => {
    const song = {
        sections: L.parseSections('In:2,V:3'),
        tempo: 120,
        beatsPerBar: 4,
        countInBars: 2,
        startSection: 0,
        padKey: 'G',
        chart: '1 4 | 1 x 5-',
    };
    const chart = plain(L.chartBars(song, L.planPlayback(song)));
    assert.deepEqual(
        chart.bars.map((b) => [b.songBar, b.label, b.barInSection, b.typed, b.status, b.name]),
        [
            [0, 'In', 1, '1', 'ok', 'G'],
            [1, 'In', 2, '4', 'ok', 'C'],
            [2, 'V', 1, '1', 'ok', 'G'],
            [3, 'V', 2, 'x', 'invalid', null],
            [4, 'V', 3, '5-', 'ok', 'Dm'],
        ],
    );
    assert.equal(chart.invalid, 1);
    assert.deepEqual(chart.extra, []);

    const short = plain(L.chartBars({ ...song, chart: '1' }, L.planPlayback(song)));
    assert.deepEqual(
        short.bars.map((b) => b.status),
        ['ok', 'empty', 'empty', 'empty', 'empty'],
    );
    const long = plain(L.chartBars({ ...song, chart: '1 2 3 4 5 6 7' }, L.planPlayback(song)));
    assert.deepEqual(long.extra, ['6', '7']);
});

test('bars before the start bar are marked as skipped', () => {
    const song = {
        sections: L.parseSections('In:2,V:3,Ch:2'),
        tempo: 120,
        beatsPerBar: 4,
        countInBars: 2,
        startSection: 2,
        padKey: 'C',
        chart: '1 1 1 1 1 4 4',
    };
    const chart = plain(L.chartBars(song, L.planPlayback(song)));
    assert.deepEqual(
        chart.bars.map((b) => b.skipped),
        [true, true, true, true, false, false, false],
    );
});

test('only a leading minus makes a chord minor', () => {
    assert.deepEqual(chord('17-').tones, [0, 4, 7, 10]);
    assert.deepEqual(chord('1-').tones, [0, 3, 7]);
    assert.deepEqual(chord('<1-').tones, [0, 3, 7]);
});
