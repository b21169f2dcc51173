// The page's readers of what musicians type: sections, keys, chord symbols, charts and set list files.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import * as L from '../../resources/page/logic.js';

const each = (table, actual) => {
    for (const [input, expected] of table) assert.deepEqual(actual(input), expected, JSON.stringify(input));
};

test('sections text is read as the player reads it', () => {
    const read = (text) => L.parseSections(text).map((e) => `${e.label}:${e.bars}`).join();
    each([['In:2,V:4,Ch:4,Out:2', 'In:2,V:4,Ch:4,Out:2'], ['In:2,,V:4,', 'In:2,V:4'], [',,In:2', 'In:2'],
        ['V::4', 'V:4'], [':V:4', 'V:4'], ['V:4:', 'V:4'], ['V:+3', 'V:3'], ['V:-1', 'V:-1'], ['V:0', 'V:0'],
        ['Intro 2:2', 'Intro 2:2'], [' V :2', ' V :2'], ['Ch:4,V:x,Out:2', 'Ch:4,Out:2']], read);
    for (const text of ['V:4:2', 'V', ':4', 'V:x', 'V:4.5', 'V:++3', 'V:+', 'V: 4', 'V:4 ', 'V:٤', ''])
        assert.equal(read(text), '', text);
    // Bar counts are signed 64-bit integers.
    each([['9223372036854775807', true], ['-9223372036854775808', true], ['9223372036854775808', false],
        ['-9223372036854775809', false], ['99999999999999999999', false]], (text) => L.parseInteger(text) !== null);
    each([['Ch', null], [' Ch 2', null], ['', 'empty'], ['A,B', 'separator'], ['Ch:2', 'separator']],
        L.labelTextProblem);
});

test('keys: letters, sharps and flats in both spellings, nothing else', () => {
    each([['C', 0], ['c', 0], ['Bb', 10], ['B♭', 10], ['F#', 6], ['F♯', 6], ['Cb', 11], ['B#', 0], ['E#', 5],
        ['\tG ', 7], ['Am', null], ['C#m', null], ['H', null], ['Bbb', null], ['', null], ['  ', null], ['Ḃ', null],
        ['C #', null], [' D\n', null]], L.parseKey);
    assert.deepEqual(new Set(L.KEY_NAMES.map(L.parseKey)), new Set([...Array(12).keys()]));
});

test('chord symbols as the player reads them: root, tones and bass as pitch classes', () => {
    const read = ([symbol, key]) => {
        const c = L.parseChord(symbol, key);
        return c === null ? null : `${c.root}:${c.tones.join(' ')}${c.bass === null ? '' : `/${c.bass}`}`;
    };
    each([[['1', 0], '0:0 4 7'], [['6-', 0], '9:9 0 4'], [['57', 0], '7:7 11 2 5'], [['7°7', 0], '11:11 2 5 8'],
        [['1sus2', 0], '0:0 2 7'], [['5aug7', 0], '7:7 11 3 5'], [['#4-7', 0], '6:6 9 1 4'], [['1/1', 0], '0:0 4 7'],
        [['5/♭7', 0], '7:7 11 2/10'], [['<4', 0], '5:5 9 0'], [['1m', 0], '0:0 4 7'], [['4/5', 10], '3:3 7 10/5'],
        [['1-sus', 0], '0:0 5 7'], [['1maj7dim', 0], '0:0 3 6 11'], [['7', 0], '11:11 3 6'], [['17-', 0], '0:0 4 7 10'],
        [['1-', 0], '0:0 3 7'], [['<1-', 0], '0:0 3 7']], read);
    for (const symbol of ['8', '0', 'x', '', '1/', '1/3/5', '1/x', '1/3m', ' 1', '1/ 3', '##1', 'b#1', '%', '|', '1\n',
        '1\u2028', 'I', '\ud800'])
        assert.equal(read([symbol, 0]), null, JSON.stringify(symbol));
    const name = ([symbol, key]) => L.chordName(L.parseChord(symbol, L.parseKey(key)), key);
    each([[['6-', 'C'], 'Am'], [['b7', 'C'], 'B♭'], [['5/7', 'Bb'], 'F/A'], [['57', 'G'], 'D7'], [['2-7', 'F'], 'Gm7'],
        [['7°7', 'C'], 'Bdim7'], [['4maj7', 'E'], 'Amaj7'], [['3', 'E'], 'G♯'], [['1sus', 'D'], 'Dsus4']], name);
});

test('a chart splits into one symbol per bar; % repeats the bar before', () => {
    const symbols = L.splitChart(' 1 4 |5\n\n6-  %  | %');
    assert.equal(symbols.map((s) => `${s.typed}>${s.symbol}`).join(), '1>1,4>4,5>5,6->6-,%>6-,%>6-');
    each([['1 % 4', ['1', '1', '4']], ['% 1', ['%', '1']], ['  | \n', null], ['1 [4\n 5/7]|% [] [6',
        ['1', '[4 5/7]', '[4 5/7]', '[]', '[6']]], (text) => L.chartSymbols(text));
});

test('a song title as an export file name: no slash, no leading dot, at most 200 bytes', () => {
    each([['Hold On', 'Hold On.wav'], ['AC/DC', 'AC-DC.wav'], ['..hidden', 'hidden.wav'], [' . ', 'Untitled.wav'],
        ['a\tb', 'a b.wav'], ['é'.repeat(150), `${'é'.repeat(98)}.wav`]], L.exportFileName);
});

const setList = () => [
    { ...L.newSong('Hold On'), tempo: 132, padKey: 'Bb', chart: '1 4\n5 [6- 5]', startSection: 2 },
    { ...L.newSong('Slow One'), sections: [{ label: 'Intro 2', bars: 2, tempo: 70 }, { label: 'V', bars: 8, beatsPerBar: 3 }],
        beatsPerBar: 6, countInBars: 1 },
];
const file = (data) => JSON.stringify({ format: 'cadenzo-setlist', version: 1, ...data });

test('an exported set list imports as the same songs', () => {
    const result = L.importSetList(L.exportSetList(setList()));
    assert.equal(result.ok, true);
    assert.deepEqual(result.songs, setList());
});

test('songs are kept in the form playSong takes, with their title; the earlier form still reads', () => {
    const [holdOn, slowOne] = setList();
    const stored = { title: 'Hold On', entries: holdOn.sections, tempo: 132, beatsPerBar: 4, countInBars: 2,
        startSection: 2, padKey: 'Bb', padChords: ['1', '4', '5', '[6- 5]'] };
    each([[holdOn, stored], [{ ...slowOne, chart: ' | ' }, { title: 'Slow One', entries: slowOne.sections, tempo: 120,
        beatsPerBar: 6, countInBars: 1, startSection: 0 }]], L.songForFile);
    const earlier = { title: 'Hold On', sections: 'In:2,V:4,Ch:4,Out:2', tempo: 132, startSection: 2, padKey: 'Bb',
        chart: '1 4 | 5 [6-  5]' };
    each([[stored, holdOn], [earlier, { ...holdOn, chart: earlier.chart }], [{ ...stored, padChords: ['1', '4', '5'],
        entries: 'In:1,V:1' }, { ...holdOn, sections: L.parseSections('In:1,V:1'), startSection: 0, chart: '1\n4\n5' }]],
    (raw) => L.normalizeSong(raw).song);
});

test('a file that is not a set list, or has one bad song, is refused whole with a clear message', () => {
    const withSecond = (change) => file({ songs: [setList()[0], { ...setList()[1], ...change }] });
    const section = (...sections) => withSecond({ sections });
    const song2 = (reason) => new RegExp(`^Song 2 .*${reason}[^]*Nothing was imported`);
    const [notSetList, newer] = [/not a CadenzoPlayer set list/, /newer version/];
    const tooLong = song2('section 1 that is too long');
    const refusals = [['{"songs": [', /not readable JSON/], ['[1, 2]', notSetList], ['null', notSetList],
        [file({ format: 'other', songs: [] }), notSetList], [file({ version: 3, songs: [] }), newer],
        [file({ version: '1', songs: [] }), newer], [file({ songs: 'x' }), /no list of songs/],
        [file({ songs: [] }), /holds no songs/], [withSecond({ tempo: 5 }), /^Song 2 "Slow One" .*tempo/],
        [withSecond({ tempo: '120' }), song2('tempo')], [withSecond({ title: 7 }), song2('title')],
        [section({ label: 'V', bars: 2.5 }), song2('section 1')], [section({ label: 'V' }), song2('section 1')],
        [section({ label: 'V', bars: 4 }, 'Ch:4'), song2('section 2')], [section({ label: 'V', bars: 1000 }), tooLong],
        [section({ label: 'V', bars: -1000 }), tooLong], [section({ label: 'V', bars: 4, tempo: 500 }), song2('section 1 with a bad')], [section({ label: 'x'.repeat(41), bars: 4 }), tooLong],
        [withSecond({ sections: null }), song2('no sections')], [withSecond({ beatsPerBar: 0 }), song2('beatsPerBar')],
        [withSecond({ countInBars: 1.5 }), song2('countInBars')], [withSecond({ padKey: 'H' }), song2('pad key')],
        [withSecond({ padKey: 'Am' }), song2('pad key')], [withSecond({ chart: ['1', '4'] }), song2('chord chart')],
        [withSecond({ padChords: ['1 4'] }), song2('chord chart')], [withSecond({ padChords: '1' }), song2('chord chart')]];
    for (const [text, message] of refusals) {
        const result = L.importSetList(text);
        assert.equal(result.ok, false, text);
        assert.match(result.error, message, text);
    }
});

test('hand-written files: sections as text, defaults, tidied values, fields of later versions kept', () => {
    const result = L.importSetList(file({ songs: [{ title: 'Quick', tempo: 96, sections: 'In:2,V:4,x,Ch:4',
        startSection: 3, padKey: ' F# ', colour: 'red' }] }));
    assert.equal(result.ok, true);
    const { sections, ...rest } = result.songs[0];
    assert.equal(L.formatSections(sections), 'In:2,V:4,Ch:4');
    assert.deepEqual(rest, { title: 'Quick', tempo: 96, beatsPerBar: 4, countInBars: 2, startSection: 0, padKey: 'F#',
        chart: '', extra: { colour: 'red' } });
    assert.equal(JSON.parse(L.exportSetList(result.songs)).songs[0].colour, 'red');
});

test('the library: fields of later versions kept, a routing per interface, an earlier page\'s storage taken over', () => {
    const system = { uid: 'jack:system', name: 'system', channels: 8 };
    const read = L.readLibrary({ version: 1, controls: { next: 'cc 64' }, selected: 1, songs: [{ title: 'A', tempo: 90,
        sections: 'V:4', lights: 3 }], rig: { deviceUid: system.uid, devices: { [system.uid]: { click: [5], lamp: 1, levels: { click: 9, pad: -41 } } } } });
    const rig = L.rigFromStored(read.rig);
    assert.deepEqual([read.selected, rig.deviceUid, rig.click, rig.guide], [0, system.uid, [5], [1, 2]]);
    const saved = L.makeLibrary(read.base, read.songs, 0, L.storeRig(read.rig, { ...rig, pad: [7] }));
    assert.deepEqual([saved.controls, saved.songs[0], saved.rig.devices[system.uid]], [{ next: 'cc 64' }, { lights: 3,
        title: 'A', entries: [{ label: 'V', bars: 4 }], tempo: 90, beatsPerBar: 4, countInBars: 2, startSection: 0 },
        { click: [5], guide: [1, 2], pad: [7], lamp: 1, deviceName: '', deviceChannels: 0, totalChannels: null,
            levels: { click: 6, guide: 0, pad: -120 } }]);
    // An interface never used takes over the routing in use; going back brings back the one it had.
    const usb = L.switchRig(saved.rig, { ...rig, pad: [7] }, { uid: 'alsa:usb', name: 'USB', channels: 18 });
    assert.deepEqual([usb.deviceUid, usb.click, usb.pad, usb.deviceChannels], ['alsa:usb', [5], [7], 18]);
    const onUsb = { ...usb, click: [1] };
    const back = L.switchRig(L.storeRig(saved.rig, onUsb), onUsb, system);
    assert.deepEqual([back.click, back.pad, back.deviceChannels], [[5], [7], 8]);
    for (const [value, error] of [[null, /not a library/], [{ version: 3, songs: [] }, /newer version/],
        [{ version: 1, songs: [{ title: 5 }] }, /^song 1 has no title$/]]) assert.match(L.readLibrary(value).error, error);

    const setList = L.exportSetList([L.newSong('One'), L.newSong('Two')]).replace('{', '{"selected": 1,');
    const flat = JSON.stringify({ deviceUid: system.uid, click: [3], pad: [4, 'x'] });
    const { library, unreadable } = L.legacyLibrary(setList, flat);
    assert.deepEqual([library.songs.map((s) => s.title), library.selected, unreadable], [['One', 'Two'], 1, null]);
    assert.deepEqual(L.rigFromStored(library.rig), { ...L.defaultRig(), deviceUid: system.uid, click: [3], pad: [4] });
    const bad = L.legacyLibrary('{"songs": 1}', null);
    assert.deepEqual([bad.library.songs.map((s) => s.title), bad.unreadable], [['New song'], '{"songs": 1}']);
    assert.equal(L.legacyLibrary(null, null).library, null);
});
