import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadLogic, plain } from './load-logic.mjs';

const L = loadLogic();
const songs = () => [
    { ...L.newSong('Hold On'), tempo: 132, padKey: 'Bb', chart: '1 4 | 5 6-', startSection: 2 },
    {
        ...L.newSong('Slow One'),
        sections: [
            { label: 'Intro 2', bars: 2 },
            { label: 'V', bars: 8 },
        ],
        beatsPerBar: 6,
        countInBars: 1,
    },
];
const file = (data) => JSON.stringify({ format: 'cadenzo-setlist', version: 1, ...data });

test('an exported set list imports as the same songs', () => {
    const result = L.importSetList(L.exportSetList(songs()));
    assert.equal(result.ok, true);
    assert.deepEqual(plain(result.songs), plain(songs()));
});

test('files that are not set lists are refused with a clear message', () => {
    const refusals = [
        ['{"songs": [', /not readable JSON/],
        ['[1, 2]', /not a CadenzoPlayer set list/],
        ['{"format": "other", "version": 1, "songs": []}', /not a CadenzoPlayer set list/],
        [file({ version: 2, songs: [] }), /newer version/],
        [file({ version: '1', songs: [] }), /newer version/],
        [file({ songs: 'x' }), /no list of songs/],
        [file({ songs: [] }), /holds no songs/],
        ['null', /not a CadenzoPlayer set list/],
    ];
    for (const [text, message] of refusals) {
        const result = L.importSetList(text);
        assert.equal(result.ok, false, text);
        assert.match(result.error, message, text);
    }
});

test('one bad song refuses the whole file and names the song', () => {
    const bad = (change) => {
        const list = plain(songs());
        Object.assign(list[1], change);
        return L.importSetList(file({ songs: list }));
    };
    const cases = [
        [{ tempo: 5 }, /tempo/],
        [{ tempo: '120' }, /tempo/],
        [{ title: 7 }, /title/],
        [{ sections: [{ label: 'V', bars: 2.5 }] }, /section 1/],
        [{ sections: [{ label: 'V' }] }, /section 1/],
        [{ sections: [{ label: 'V', bars: 4 }, 'Ch:4'] }, /section 2/],
        [{ sections: [{ label: 'V', bars: 1000 }] }, /section 1 that is too long/],
        [{ sections: [{ label: 'V', bars: -1000 }] }, /section 1 that is too long/],
        [{ sections: [{ label: 'x'.repeat(41), bars: 4 }] }, /section 1 that is too long/],
        [{ sections: null }, /no sections/],
        [{ beatsPerBar: 0 }, /beatsPerBar/],
        [{ countInBars: 1.5 }, /countInBars/],
        [{ padKey: 'H' }, /pad key/],
        [{ padKey: 'Am' }, /pad key/],
        [{ chart: ['1', '4'] }, /chord chart/],
    ];
    for (const [change, reason] of cases) {
        const result = bad(change);
        assert.equal(result.ok, false, JSON.stringify(change));
        assert.match(result.error, /^Song 2 /, JSON.stringify(change));
        assert.match(result.error, reason, JSON.stringify(change));
        assert.match(result.error, /Nothing was imported/);
    }
    assert.match(bad({ tempo: 5 }).error, /"Slow One"/);
});

test('hand-written files may give sections as text and leave out what has a default', () => {
    const result = L.importSetList(file({ songs: [{ title: 'Quick', tempo: 96, sections: 'In:2,V:4,x,Ch:4' }] }));
    assert.equal(result.ok, true);
    const song = plain(result.songs[0]);
    assert.deepEqual(song.sections, [
        { label: 'In', bars: 2 },
        { label: 'V', bars: 4 },
        { label: 'Ch', bars: 4 },
    ]);
    assert.equal(song.beatsPerBar, 4);
    assert.equal(song.countInBars, 2);
    assert.equal(song.padKey, '');
    assert.equal(song.chart, '');
});

test('values are tidied where the meaning is plain', () => {
    const result = L.importSetList(
        file({ songs: [{ title: 'T', tempo: 100, sections: 'V:4', startSection: 3, padKey: ' F# ' }] }),
    );
    assert.equal(result.ok, true);
    assert.equal(result.songs[0].startSection, 0);
    assert.equal(result.songs[0].padKey, 'F#');
});

test('extra fields are ignored and not carried along', () => {
    const result = L.importSetList(file({ songs: [{ title: 'T', tempo: 100, sections: [], id: 99, colour: 'red' }] }));
    assert.equal(result.ok, true);
    assert.equal('id' in result.songs[0], false);
    assert.equal('colour' in result.songs[0], false);
});
