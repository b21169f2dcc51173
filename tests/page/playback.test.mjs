// The page's picture of a song (its layout and the position in it, the chart bar by bar, the checks
// before playing, tap tempo) and of playing it: matching each reply to its request, the transport's
// requests around Play and Stop, and what an error says to the musician.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import * as L from '../../resources/page/logic.js';

const song = (changes = {}) => ({ title: 'Default', sections: L.parseSections('In:2,V:4,Ch:4,Out:2'), tempo: 100,
    beatsPerBar: 4, countInBars: 2, startSection: 0, padKey: '', chart: '', ...changes });
// Times are sums of beat lengths: compared to the microsecond.
const round = (seconds) => Math.round(seconds * 1e6) / 1e6;
const where = (plan, t, transport) => {
    const p = transport ? L.positionAt(plan, t, transport.endsAt(), transport.songTime(t)) : L.positionAt(plan, t);
    if (p.phase === 'countIn') return `count-in ${p.countInBar}/${p.countInBars} beat ${p.beat}`;
    return p.phase === 'section' ? `${p.label} ${p.barInSection}/${p.sectionBars} beat ${p.beat}` : p.phase;
};

test('the default map at 100 bpm lays out as the player plays it, and the position follows the time', () => {
    const plan = L.planPlayback(song());
    assert.deepEqual([plan.cut, plan.startBar, plan.layout.songBars], [false, 0, 12]);
    const times = [plan.totalDuration, plan.layout.countInEnd, plan.layout.sections[1].startTime];
    assert.deepEqual(times.map(round), [33.6, 4.8, 9.6]);
    assert.deepEqual(plan.layout.sections.map((s) => s.firstBar), [0, 2, 6, 10]);
    const table = [[0, 'count-in 1/2 beat 1'], [1.3, 'count-in 1/2 beat 3'], [2.4, 'count-in 2/2 beat 1'],
        [4.79, 'count-in 2/2 beat 4'], [4.8, 'In 1/2 beat 1'], [5.0, 'In 1/2 beat 1'], [7.3, 'In 2/2 beat 1'],
        [9.6, 'V 1/4 beat 1'], [19.2, 'Ch 1/4 beat 1'], [33.5, 'Out 2/2 beat 4'], [33.61, 'ended'], [100, 'ended']];
    for (const [t, expected] of table) assert.equal(where(plan, t), expected, `at ${t} s`);
    assert.equal(L.positionAt(plan, 0).nextLabel, 'In');
    // The reply's total duration, when given, decides when the song is over.
    assert.deepEqual([19.9, 20].map((t) => L.positionAt(plan, t, 20).phase), ['section', 'ended']);
    assert.equal(where(L.planPlayback(song({ countInBars: 0 })), 0), 'In 1/2 beat 1');
});

test('a start section begins one bar before it and drops the count-in; one out of range plays it all', () => {
    const plan = L.planPlayback(song({ startSection: 1 }));
    assert.deepEqual([plan.cut, plan.effectiveCountIn, plan.startBar], [true, 0, 1]);
    assert.deepEqual([plan.offset, plan.totalDuration].map(round), [2.4, 26.4]);
    assert.deepEqual([0, 2.4, 26.39].map((t) => where(plan, t)), ['In 2/2 beat 1', 'V 1/4 beat 1', 'Out 2/2 beat 4']);
    assert.equal(L.positionAt(plan, 0).nextLabel, 'V');
    const third = L.planPlayback(song({ startSection: 3 }));
    assert.deepEqual([third.startBar, where(third, 0)], [9, 'Ch 4/4 beat 1']);
    for (const startSection of [0, 4, 9, -1]) {
        const whole = L.planPlayback(song({ startSection }));
        assert.deepEqual([whole.cut, where(whole, 0)], [false, 'count-in 1/2 beat 1'], `start ${startSection}`);
    }
    // A one-bar first section with no count-in leaves nothing to cut.
    const short = L.planPlayback(song({ sections: L.parseSections('In:1,V:2'), countInBars: 0, startSection: 1 }));
    assert.deepEqual([short.offset, short.startBar, short.totalDuration].map(round), [0, 0, 7.2]);
});

test('odd bars: sections of zero or fewer take one bar; odd metres count their beats', () => {
    const plan = L.planPlayback(song({ sections: L.parseSections('A:0,B:-3,C:2'), countInBars: 0 }));
    assert.deepEqual(plan.layout.sections.map((s) => s.bars), [1, 1, 2]);
    assert.equal(where(plan, 2.4), 'B 1/1 beat 1');
    assert.equal(round(plan.totalDuration), 9.6);
    const seven = L.planPlayback(song({ beatsPerBar: 7, tempo: 140, countInBars: 0 }));
    assert.equal(where(seven, (60 / 140) * 9 + 0.01), 'In 2/2 beat 3');
    // A section's own tempo and metre; the count-in takes the first section's, a cut the bar before.
    const own = song({ sections: [{ label: 'A', bars: 1, tempo: 60, beatsPerBar: 3 }, { label: 'B', bars: 2 }],
        tempo: 120, countInBars: 1 });
    const mixed = L.planPlayback(own);
    const table = [[2, 'count-in 1/1 beat 3'], [3, 'A 1/1 beat 1'], [5.5, 'A 1/1 beat 3'], [6, 'B 1/2 beat 1'],
        [8.5, 'B 2/2 beat 2'], [10, 'ended']];
    for (const [t, expected] of table) assert.equal(where(mixed, t), expected, `at ${t} s`);
    const fromB = L.planPlayback({ ...own, startSection: 1 });
    assert.deepEqual([fromB.totalDuration, fromB.startBar, where(fromB, 0)], [7, 0, 'A 1/1 beat 1']);
});

test('songs that cannot be laid out give no plan instead of hanging; the clock shows minutes and seconds', () => {
    for (const c of [{ sections: [{ label: 'V', bars: 1e15 }] }, { tempo: 0 }, { tempo: NaN }, { beatsPerBar: 0 }])
        assert.equal(L.planPlayback(song(c)), null, JSON.stringify(c));
    const clock = [[0, '0:00'], [33.6, '0:33'], [59.999, '0:59'], [60, '1:00'], [754, '12:34'], [-3, '0:00']];
    for (const [seconds, text] of clock) assert.equal(L.formatClock(seconds), text);
});

test('each chart symbol is placed on its song bar and section; bars before the start are skipped', () => {
    const pad = song({ sections: L.parseSections('In:2,V:3'), tempo: 120, startSection: 1, padKey: 'G',
        chart: '1 4 | 1 x 5-' });
    const chart = L.chartBars(pad, L.planPlayback(pad));
    assert.deepEqual(chart.bars.map((b) => [b.songBar, b.label, b.barInSection, b.typed, b.status, b.name, b.skipped]),
        [[0, 'In', 1, '1', 'ok', 'G', true], [1, 'In', 2, '4', 'ok', 'C', false], [2, 'V', 1, '1', 'ok', 'G', false],
            [3, 'V', 2, 'x', 'invalid', null, false], [4, 'V', 3, '5-', 'ok', 'Dm', false]]);
    assert.deepEqual([chart.invalid, chart.extra], [1, []]);
    const bars = (text) => L.chartBars({ ...pad, chart: text }, L.planPlayback(pad));
    assert.deepEqual(bars('1').bars.map((b) => b.status), ['ok', 'empty', 'empty', 'empty', 'empty']);
    assert.deepEqual(bars('1 2 3 4 5 6 7').extra, ['6', '7']);
    assert.deepEqual(bars('[1 4] [1 x] [] 1]').bars.map((b) => `${b.status} ${b.name}`),
        ['ok G C', 'invalid null', 'invalid null', 'ok G', 'empty null']);
});

const rig = (changes = {}) => ({ deviceUid: 'alsa:hw:1', deviceName: 'Box', deviceChannels: 8, click: [1, 2],
    guide: [2], pad: [7, 8], totalChannels: null, ...changes });
const device = { uid: 'alsa:hw:1', name: 'Box', channels: 8, isDefault: false };

test('checks before playing block what the player would play wrongly, and warn of silent outputs', () => {
    const levels = (s) => L.songProblems(s).map((p) => p.level).join();
    const odd = [{ label: 'V', bars: 0 }, { label: ' ', bars: 2 }];
    const table = [[{}, ''], [{ tempo: 0 }, 'error'], [{ tempo: NaN }, 'error'], [{ beatsPerBar: 2.5 }, 'error'],
        [{ countInBars: -1 }, 'error'], [{ sections: [{ label: 'V', bars: 1000 }] }, 'error'],
        [{ sections: [] }, 'error'], [{ sections: odd }, 'warning,warning']];
    for (const [changes, expected] of table) assert.equal(levels(song(changes)), expected, JSON.stringify(changes));
    const texts = (r, d = device) => L.routingProblems(r, d).map((p) => `${p.level}: ${p.text}`);
    assert.deepEqual(texts(rig({ deviceUid: null }), null), ['error: Choose an audio interface under Outputs.']);
    assert.deepEqual(texts(rig()), []);
    assert.deepEqual(texts(rig({ pad: [9, 12] })), ['warning: Pad on output 9, 12 stays silent: the interface has 8.']);
    assert.deepEqual(texts(rig({ totalChannels: 2, click: [1], guide: [3] })), [
        'warning: Cues on output 3 stays silent: only 2 outputs are in use.',
        'warning: Pad on output 7, 8 stays silent: only 2 outputs are in use.']);
    assert.equal(texts(rig({ click: [], guide: [] })).length, 2);
});

test('tap tempo follows the latest run of taps', () => {
    const steady = [0, 1000, 2000, 3000, 4000, 4500, 5000, 5500, 6000, 6500, 7000, 7500, 8000];
    const table = [[[], null], [[1000], null], [[0, 500, 1000, 1500], 120], [[0, 600, 1200, 5000, 5400], 150],
        [[0, 10, 20], 400], [[0, 1900, 3800], 32], [steady, 120], [[0, 1000, 2000, 3000, 3500, 4000, 4500], 80]];
    for (const [taps, bpm] of table) assert.equal(L.tapTempo(taps), bpm, JSON.stringify(taps));
});

const types = (actions) => actions.map((a) => a.type).join();

test('every reply is matched once to its request, in any order; others are told apart', () => {
    const tracker = L.createRequestTracker('p');
    const [tone, list, mute] = ['testTone', 'listDevices', 'setGuideMuted'].map((type) => tracker.add(type, 0, 1000));
    const kind = (result) => tracker.settle({ ok: true, ...result }).kind;
    const other = L.createRequestTracker('q').add('stopSong', 0, 1);
    const rows = [[{ type: 'listDevices', requestId: list }, 'reply'], [{ type: 'testTone', requestId: tone }, 'reply'],
        [{ type: 'testTone', requestId: tone }, 'duplicate'], [{ type: 'stopSong', requestId: mute }, 'mismatch'],
        [{ ok: false, error: 'Malformed message' }, 'foreign'], [{ type: 'listDevices', devices: [] }, 'foreign'],
        [{ type: 'listDevices', requestId: 'p-9' }, 'foreign'], [{ type: 'stopSong', requestId: other }, 'foreign'],
        [{ type: 'listDevices', requestId: { id: 1 } }, 'foreign']];
    for (const [result, expected] of rows) assert.equal(kind(result), expected, JSON.stringify(result));
    assert.equal(tracker.pendingCount('setGuideMuted'), 1);
    // An error without a type is matched by its id alone.
    const answered = tracker.settle({ ok: false, error: 'Unknown message type: setGuideMuted', requestId: mute });
    assert.deepEqual([answered.kind, answered.request.type, tracker.pendingCount()], ['reply', 'setGuideMuted', 0]);
});

test('a request that waited too long is given up, and its late reply is recognised once', () => {
    const tracker = L.createRequestTracker('p');
    const play = tracker.add('playSong', 0, 20000);
    const stop = tracker.add('stopSong', 0, 5000);
    assert.deepEqual([4999, 5000, 25000].map((t) => tracker.expire(t).map((r) => r.id)), [[], [stop], [play]]);
    const settle = (id) => tracker.settle({ ok: true, type: 'playSong', requestId: id }).kind;
    assert.deepEqual([settle(play), settle(play)], ['late', 'duplicate']);
});

// Ids as the page would make them, per type.
function ids() {
    let n = 0;
    const make = (kind) => () => `${kind}-${++n}`;
    return { stop: make('stop'), play: make('play'), mute: make('mute'), jump: make('jump'), vamp: make('vamp') };
}
const plan = { totalDuration: 30 };
const reply = (transport, play, requestIds, fields = {}, at = 0) =>
    transport.playReplied({ ok: true, type: 'playSong', requestId: play.requestId, totalDuration: 2, ...fields }, at,
        requestIds);

test('a start that fails or is given up, or a lost interface, leaves the transport stopped; a late start is stopped', () => {
    const transport = L.createTransport();
    const requestIds = ids();
    const play = transport.play(requestIds, 0, plan, 1).pop();
    assert.equal(types(reply(transport, play, requestIds, { ok: false, error: 'No matching device' })), '');
    assert.deepEqual([transport.state.phase, transport.state.lastError], ['stopped', 'No matching device']);
    const again = transport.play(requestIds, 0, plan, 1).pop();
    assert.deepEqual(transport.playTimedOut('play-unknown', requestIds), { stopped: false, actions: [] });
    assert.deepEqual(transport.playTimedOut(again.requestId, requestIds), { stopped: true, actions: [] });
    assert.equal(types(reply(transport, again, requestIds, {}, 30000)), 'stopSong');
    assert.equal(transport.state.phase, 'stopped');
    // A reply to an older play changes nothing.
    const current = transport.play(requestIds, 0, plan, 1).pop();
    assert.equal(types(reply(transport, { requestId: 'play-old' }, requestIds, { ok: false, error: 'x' })), '');
    assert.deepEqual([transport.state.phase, transport.state.playId], ['starting', current.requestId]);
    // A lost interface ends a playing song only, and the next start needs no stop before it.
    assert.equal(transport.deviceLost(), false);
    reply(transport, current, requestIds);
    assert.deepEqual([transport.deviceLost(), transport.state.phase], [true, 'stopped']);
    assert.equal(types(transport.play(requestIds, 0, plan, 1)), 'playSong');
});

test('a song waiting on a start cancelled by Stop goes out once that start is answered, failed or given up', () => {
    const requestIds = ids();
    const waiting = (settle) => {
        const transport = L.createTransport();
        const first = transport.play(requestIds, 0, plan, 1).pop();
        transport.stop(requestIds);
        assert.equal(types(transport.play(requestIds, 0, plan, 2)), '', 'nothing is sent yet');
        return [types(settle(transport, first)), transport.state.phase];
    };
    assert.deepEqual(waiting((t, f) => reply(t, f, requestIds)), ['stopSong,playSong', 'starting']);
    assert.deepEqual(waiting((t, f) => reply(t, f, requestIds, { ok: false })), ['playSong', 'starting']);
    assert.deepEqual(waiting((t, f) => t.playTimedOut(f.requestId, requestIds).actions), ['playSong', 'starting']);
    // Stopped again before it went out, it is dropped.
    assert.deepEqual(waiting((t, f) => (t.stop(requestIds), reply(t, f, requestIds))), ['stopSong', 'stopped']);
});

test('muted cues go out with the song; a mute changed while it starts follows its reply', () => {
    const transport = L.createTransport();
    const requestIds = ids();
    const muted = (actions) => actions.map((a) => `${a.type}:${a.muted ?? a.guideMuted}`).join();
    assert.equal(muted(transport.setGuideMuted(true, requestIds)), 'setGuideMuted:true');
    const play = transport.play(requestIds, 0, plan, 1).pop();
    assert.deepEqual([muted([play]), muted(reply(transport, play, requestIds))], ['playSong:true', '']);
    transport.stop(requestIds);
    const next = transport.play(requestIds, 0, plan, 1).pop();
    transport.setGuideMuted(false, requestIds);
    assert.equal(muted(reply(transport, next, requestIds)), 'setGuideMuted:false');
});

test('a jump lands on the next bar line or at the end of the section; a vamp repeats the section until off', () => {
    const transport = L.createTransport();
    const requestIds = ids();
    const plan = L.planPlayback(song({ countInBars: 0 }));
    reply(transport, transport.play(requestIds, 0, plan, 1).pop(), requestIds, { totalDuration: 28.8 });
    const answer = (actions, ok = true) => transport.controlReplied({ ok, requestId: actions[0].requestId });
    const at = (t) => where(plan, t, transport);
    answer(transport.jump(requestIds, 1000, 3, 'bar'));
    assert.deepEqual([at(2.39), at(2.4), round(transport.endsAt())], ['In 1/2 beat 4', 'Out 1/2 beat 1', 7.2]);
    answer(transport.jump(requestIds, 3000, 1, 'section'));
    answer(transport.jump(requestIds, 3000, 2, 'bar'), false);
    assert.deepEqual([at(7.19), at(7.2), round(transport.endsAt())], ['Out 2/2 beat 4', 'V 1/4 beat 1', 31.2]);
    answer(transport.setVamp(requestIds, 8000, true));
    assert.deepEqual([at(16.8), transport.endsAt(), transport.state.vamp], ['V 1/4 beat 1', Infinity, true]);
    answer(transport.setVamp(requestIds, 20000, false));
    assert.deepEqual([at(26.4), round(transport.endsAt())], ['Ch 1/4 beat 1', 40.8]);
});

test("errors read as a musician's sentence with the program's text beside it", () => {
    const table = [['No matching device', /^The audio interface isn't connected \(No matching device\)$/],
        ["Couldn't select device: -50", /could not be selected.*\(Couldn't select device: -50\)$/],
        ['setSinkId equivalent failed: -10851', /could not be selected/],
        ['Could not build 24-channel layout', /that many outputs \(Could not build 24-channel layout\)$/],
        ["Couldn't build 3-channel layout", /that many outputs/],
        ['Unknown message type: stopsong', /does not know this command \(Unknown message type: stopsong\)$/],
        ['Boom', /^The audio engine reported a problem \(Boom\)$/],
        [undefined, /^The audio engine reported a problem \(no reason given\)$/],
        ['xNo matching device', /^The audio engine reported a problem \(xNo matching device\)$/]];
    for (const [text, expected] of table) assert.match(L.describeError(text), expected, text);
});
