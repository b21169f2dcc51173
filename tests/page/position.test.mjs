import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadLogic, plain } from './load-logic.mjs';

const L = loadLogic();
const defaultSong = (changes = {}) => ({
    title: 'Default',
    sections: L.parseSections('In:2,V:4,Ch:4,Out:2'),
    tempo: 100,
    beatsPerBar: 4,
    countInBars: 2,
    startSection: 0,
    padKey: '',
    chart: '',
    ...changes,
});
const near = (actual, expected, what) =>
    assert.ok(Math.abs(actual - expected) < 1e-9, `${what}: ${actual} != ${expected}`);
const where = (plan, t) => {
    const p = L.positionAt(plan, t);
    if (p.phase === 'countIn') return `count-in ${p.countInBar}/${p.countInBars} beat ${p.beat}`;
    if (p.phase === 'section') return `${p.label} ${p.barInSection}/${p.sectionBars} beat ${p.beat}`;
    return p.phase;
};

test('the default map at 100 bpm lays out as the player plays it', () => {
    const plan = L.planPlayback(defaultSong());
    assert.equal(plan.cut, false);
    assert.equal(plan.startBar, 0);
    near(plan.totalDuration, 33.6, 'total');
    near(plan.layout.countInEnd, 4.8, 'count-in end');
    assert.deepEqual(plain(plan.layout.sections.map((s) => s.firstBar)), [0, 2, 6, 10]);
    near(plan.layout.sections[1].startTime, 9.6, 'V start');
    assert.equal(plan.layout.songBars, 12);
});

test('position from elapsed time: count-in, sections, bar lines and the end', () => {
    const plan = L.planPlayback(defaultSong());
    const table = [
        [0, 'count-in 1/2 beat 1'],
        [1.3, 'count-in 1/2 beat 3'],
        [2.4, 'count-in 2/2 beat 1'],
        [4.79, 'count-in 2/2 beat 4'],
        [4.8, 'In 1/2 beat 1'],
        [5.0, 'In 1/2 beat 1'],
        [7.3, 'In 2/2 beat 1'],
        [9.6, 'V 1/4 beat 1'],
        [19.2, 'Ch 1/4 beat 1'],
        [33.5, 'Out 2/2 beat 4'],
        [33.61, 'ended'],
        [100, 'ended'],
    ];
    for (const [t, expected] of table) assert.equal(where(plan, t), expected, `at ${t} s`);
});

test('the count-in is shown as its own bars before the first section', () => {
    const plan = L.planPlayback(defaultSong({ countInBars: 1 }));
    const start = L.positionAt(plan, 0);
    assert.equal(start.phase, 'countIn');
    assert.equal(start.nextLabel, 'In');
    assert.deepEqual(plain(L.positionText(start)), { title: 'Count-in', detail: 'Bar 1 of 1' });
    assert.deepEqual(plain(L.positionText(L.positionAt(plan, 2.4))), { title: 'In', detail: 'Bar 1 of 2' });
    assert.equal(where(L.planPlayback(defaultSong({ countInBars: 0 })), 0), 'In 1/2 beat 1');
});

test('a start section begins one bar before it and drops the count-in', () => {
    const plan = L.planPlayback(defaultSong({ startSection: 1 }));
    assert.equal(plan.cut, true);
    assert.equal(plan.effectiveCountIn, 0);
    near(plan.offset, 2.4, 'offset');
    assert.equal(plan.startBar, 1);
    near(plan.totalDuration, 26.4, 'total');
    assert.equal(where(plan, 0), 'In 2/2 beat 1');
    assert.equal(L.positionAt(plan, 0).nextLabel, 'V');
    assert.equal(where(plan, 2.4), 'V 1/4 beat 1');
    assert.equal(where(plan, 26.39), 'Out 2/2 beat 4');

    const third = L.planPlayback(defaultSong({ startSection: 3 }));
    assert.equal(third.startBar, 9);
    assert.equal(where(third, 0), 'Ch 4/4 beat 1');
});

test('start sections outside 1 to the last play the whole song with its count-in', () => {
    for (const startSection of [0, 4, 9, -1]) {
        const plan = L.planPlayback(defaultSong({ startSection }));
        assert.equal(plan.cut, false, `start ${startSection}`);
        near(plan.totalDuration, 33.6, `start ${startSection}`);
        assert.equal(where(plan, 0), 'count-in 1/2 beat 1');
    }
});

test('a one-bar first section with no count-in leaves nothing to cut', () => {
    const plan = L.planPlayback(
        defaultSong({ sections: L.parseSections('In:1,V:2'), countInBars: 0, startSection: 1 }),
    );
    near(plan.offset, 0, 'offset');
    assert.equal(plan.startBar, 0);
    near(plan.totalDuration, 7.2, 'total');
});

test('sections of zero or fewer bars take one bar', () => {
    const plan = L.planPlayback(defaultSong({ sections: L.parseSections('A:0,B:-3,C:2'), countInBars: 0 }));
    assert.deepEqual(plain(plan.layout.sections.map((s) => s.bars)), [1, 1, 2]);
    assert.equal(where(plan, 2.4), 'B 1/1 beat 1');
    near(plan.totalDuration, 9.6, 'total');
});

test("the reply's total duration decides when the song is over", () => {
    const plan = L.planPlayback(defaultSong());
    assert.equal(L.positionAt(plan, 20, 20).phase, 'ended');
    assert.equal(L.positionAt(plan, 19.9, 20).phase, 'section');
});

test('odd metres count their beats within the bar', () => {
    const plan = L.planPlayback(defaultSong({ beatsPerBar: 7, tempo: 140, countInBars: 0 }));
    const p = L.positionAt(plan, (60 / 140) * 9 + 0.01);
    assert.equal(p.barInSection, 2);
    assert.equal(p.beat, 3);
    assert.equal(p.beatsPerBar, 7);
});

test('songs that cannot be laid out give no plan instead of hanging', () => {
    assert.equal(L.planPlayback(defaultSong({ sections: [{ label: 'V', bars: 1e15 }] })), null);
    assert.equal(L.planPlayback(defaultSong({ tempo: 0 })), null);
    assert.equal(L.planPlayback(defaultSong({ tempo: NaN })), null);
    assert.equal(L.planPlayback(defaultSong({ beatsPerBar: 0 })), null);
});

test('clock shows whole minutes and seconds', () => {
    assert.equal(L.formatClock(0), '0:00');
    assert.equal(L.formatClock(33.6), '0:33');
    assert.equal(L.formatClock(59.999), '0:59');
    assert.equal(L.formatClock(60), '1:00');
    assert.equal(L.formatClock(754), '12:34');
    assert.equal(L.formatClock(-3), '0:00');
});
