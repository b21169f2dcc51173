import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadLogic, plain } from './load-logic.mjs';

const L = loadLogic();
const same = (actual, expected, message) => assert.deepEqual(plain(actual), expected, message);

test('every reply is matched once to its request, in any order', () => {
    const tracker = L.createRequestTracker('p');
    const tone = tracker.issue('testTone', 0, 1000);
    const list = tracker.issue('listDevices', 0, 1000);
    assert.notEqual(tone, list);
    assert.equal(tracker.pendingCount(), 2);
    assert.equal(tracker.settle({ ok: true, type: 'listDevices', requestId: list }).kind, 'reply');
    const answered = tracker.settle({ ok: true, type: 'testTone', requestId: tone });
    assert.equal(answered.kind, 'reply');
    assert.equal(answered.request.type, 'testTone');
    assert.equal(tracker.settle({ ok: true, type: 'testTone', requestId: tone }).kind, 'duplicate');
    assert.equal(tracker.pendingCount(), 0);
});

test('a reply of another type does not settle the request it names', () => {
    const tracker = L.createRequestTracker('p');
    const play = tracker.issue('playSong', 0, 1000);
    assert.equal(tracker.settle({ ok: true, type: 'stopSong', requestId: play }).kind, 'mismatch');
    assert.equal(tracker.pendingCount('playSong'), 1);
    assert.equal(tracker.settle({ ok: true, type: 'playSong', requestId: play, totalDuration: 3 }).kind, 'reply');
});

test('an error without a type is matched by its id alone', () => {
    const tracker = L.createRequestTracker('p');
    const id = tracker.issue('setGuideMuted', 0, 1000);
    const match = tracker.settle({ ok: false, error: 'Unknown message type: setGuideMuted', requestId: id });
    assert.equal(match.kind, 'reply');
    assert.equal(match.request.type, 'setGuideMuted');
});

test('replies the page never asked for are told apart', () => {
    const tracker = L.createRequestTracker('p');
    tracker.issue('listDevices', 0, 1000);
    assert.equal(tracker.settle({ ok: false, error: 'Malformed message' }).kind, 'foreign');
    assert.equal(tracker.settle({ ok: true, type: 'listDevices', devices: [] }).kind, 'foreign');
    assert.equal(tracker.settle({ ok: true, type: 'listDevices', requestId: 'other-1' }).kind, 'foreign');
    assert.equal(tracker.settle({ ok: true, type: 'listDevices', requestId: { id: 1 } }).kind, 'foreign');
    assert.equal(tracker.pendingCount(), 1);
});

test('a request that waited too long is given up, and its late reply is still recognised once', () => {
    const tracker = L.createRequestTracker('p');
    const play = tracker.issue('playSong', 0, 20000);
    const stop = tracker.issue('stopSong', 0, 5000);
    same(
        tracker.expire(4999).map((r) => r.id),
        [],
    );
    same(
        tracker.expire(5000).map((r) => r.id),
        [stop],
    );
    same(
        tracker.expire(25000).map((r) => r.id),
        [play],
    );
    assert.equal(tracker.pendingCount(), 0);
    assert.equal(tracker.settle({ ok: true, type: 'playSong', requestId: play }).kind, 'late');
    assert.equal(tracker.settle({ ok: true, type: 'playSong', requestId: play }).kind, 'duplicate');
});

test('ids stay unique across trackers of different pages', () => {
    const a = L.createRequestTracker('a');
    const b = L.createRequestTracker('b');
    const id = a.issue('stopSong', 0, 1);
    assert.equal(b.settle({ ok: true, type: 'stopSong', requestId: id }).kind, 'foreign');
});

test('only a bounded number of answered requests is remembered', () => {
    const tracker = L.createRequestTracker('p', 3);
    const ids = [1, 2, 3, 4].map(() => tracker.issue('stopSong', 0, 1000));
    for (const id of ids) tracker.settle({ ok: true, type: 'stopSong', requestId: id });
    assert.equal(tracker.settle({ ok: true, type: 'stopSong', requestId: ids[0] }).kind, 'foreign');
    assert.equal(tracker.settle({ ok: true, type: 'stopSong', requestId: ids[3] }).kind, 'duplicate');
});

// Ids as the page would make them, per type.
function ids() {
    let n = 0;
    const make = (kind) => () => `${kind}-${++n}`;
    return { stop: make('stop'), play: make('play'), mute: make('mute') };
}
const plan = { totalDuration: 30 };

test('the first song of a page stops whatever may still sound, later ones only when needed', () => {
    const transport = L.createTransport();
    const requestIds = ids();
    const first = transport.play(requestIds, 0, plan, 1);
    same(
        first.map((a) => a.type),
        ['stopSong', 'playSong'],
    );
    assert.equal(transport.state.phase, 'starting');
    same(transport.play(requestIds, 0, plan, 1), [], 'no second play while one is starting');
    transport.playReplied(
        { ok: true, type: 'playSong', requestId: first[1].requestId, totalDuration: 12 },
        1000,
        requestIds,
    );
    assert.equal(transport.state.phase, 'playing');
    assert.equal(transport.state.totalDuration, 12);
    same(transport.play(requestIds, 0, plan, 1), [], 'Play while playing does nothing');
    same(
        transport.stop(requestIds).map((a) => a.type),
        ['stopSong'],
    );
    same(
        transport.play(requestIds, 0, plan, 1).map((a) => a.type),
        ['playSong'],
    );
});

test('a song that ends by itself is stopped before the next one starts', () => {
    const transport = L.createTransport();
    const requestIds = ids();
    const play = transport.play(requestIds, 0, plan, 1).pop();
    transport.playReplied(
        { ok: true, type: 'playSong', requestId: play.requestId, totalDuration: 2 },
        1000,
        requestIds,
    );
    assert.equal(transport.tick(2999), false);
    assert.equal(transport.elapsed(2500), 1.5);
    assert.equal(transport.tick(3000), true);
    assert.equal(transport.state.phase, 'stopped');
    assert.equal(transport.state.ended, true);
    same(
        transport.play(requestIds, 4000, plan, 1).map((a) => a.type),
        ['stopSong', 'playSong'],
    );
});

test('Stop while the song is still starting stops it again when it starts late', () => {
    const transport = L.createTransport();
    const requestIds = ids();
    const play = transport.play(requestIds, 0, plan, 1).pop();
    transport.stop(requestIds);
    assert.equal(transport.state.phase, 'stopped');
    const actions = transport.playReplied(
        { ok: true, type: 'playSong', requestId: play.requestId, totalDuration: 9 },
        500,
        requestIds,
    );
    same(
        actions.map((a) => a.type),
        ['stopSong'],
    );
    assert.equal(transport.state.phase, 'stopped');
});

test('a start that failed, or was given up, leaves the transport stopped', () => {
    const transport = L.createTransport();
    const requestIds = ids();
    const play = transport.play(requestIds, 0, plan, 1).pop();
    const actions = transport.playReplied(
        { ok: false, type: 'playSong', requestId: play.requestId, error: 'No matching device' },
        10,
        requestIds,
    );
    same(actions, []);
    assert.equal(transport.state.phase, 'stopped');
    assert.equal(transport.state.lastError, 'No matching device');

    const again = transport.play(requestIds, 0, plan, 1).pop();
    same(transport.playTimedOut('play-unknown', requestIds), { stopped: false, actions: [] });
    same(transport.playTimedOut(again.requestId, requestIds), { stopped: true, actions: [] });
    assert.equal(transport.state.phase, 'stopped');
    const late = transport.playReplied(
        { ok: true, type: 'playSong', requestId: again.requestId, totalDuration: 5 },
        30000,
        requestIds,
    );
    same(
        late.map((a) => a.type),
        ['stopSong'],
    );
    assert.equal(transport.state.phase, 'stopped');
});

test('a new song waits for a start cancelled by Stop, so that its stop cannot end the new song', () => {
    const transport = L.createTransport();
    const requestIds = ids();
    const first = transport.play(requestIds, 0, plan, 1).pop();
    transport.stop(requestIds);
    same(transport.play(requestIds, 0, plan, 2), [], 'nothing is sent yet');
    assert.equal(transport.state.phase, 'starting');
    assert.equal(transport.state.songId, 2);
    const actions = transport.playReplied(
        { ok: true, type: 'playSong', requestId: first.requestId, totalDuration: 9 },
        50,
        requestIds,
    );
    same(
        actions.map((a) => a.type),
        ['stopSong', 'playSong'],
        'the late start is stopped, then the new song goes out',
    );
    assert.equal(transport.state.playId, actions[1].requestId);
    transport.playReplied(
        { ok: true, type: 'playSong', requestId: actions[1].requestId, totalDuration: 9 },
        60,
        requestIds,
    );
    assert.equal(transport.state.phase, 'playing');
});

test('a waiting song goes out at once when the cancelled start failed or is given up', () => {
    const failed = L.createTransport();
    const requestIds = ids();
    const first = failed.play(requestIds, 0, plan, 1).pop();
    failed.stop(requestIds);
    failed.play(requestIds, 0, plan, 2);
    same(
        failed
            .playReplied({ ok: false, type: 'playSong', requestId: first.requestId, error: 'x' }, 5, requestIds)
            .map((a) => a.type),
        ['playSong'],
    );

    const silent = L.createTransport();
    const cancelled = silent.play(requestIds, 0, plan, 1).pop();
    silent.stop(requestIds);
    silent.play(requestIds, 0, plan, 2);
    const outcome = silent.playTimedOut(cancelled.requestId, requestIds);
    assert.equal(outcome.stopped, false);
    same(
        outcome.actions.map((a) => a.type),
        ['playSong'],
    );
    assert.equal(silent.state.phase, 'starting');

    const dropped = L.createTransport();
    const one = dropped.play(requestIds, 0, plan, 1).pop();
    dropped.stop(requestIds);
    dropped.play(requestIds, 0, plan, 2);
    dropped.stop(requestIds);
    same(
        dropped.playReplied({ ok: true, type: 'playSong', requestId: one.requestId }, 5, requestIds).map((a) => a.type),
        ['stopSong'],
        'a waiting song stopped before it went out is dropped',
    );
    assert.equal(dropped.state.phase, 'stopped');
});

test('a reply to an older play does not change the current one', () => {
    const transport = L.createTransport();
    const requestIds = ids();
    const current = transport.play(requestIds, 0, plan, 1).pop();
    const actions = transport.playReplied(
        { ok: false, type: 'playSong', requestId: 'play-old', error: 'x' },
        5,
        requestIds,
    );
    same(actions, []);
    assert.equal(transport.state.phase, 'starting');
    assert.equal(transport.state.playId, current.requestId);
});

test('muted cues stay muted for the next song', () => {
    const transport = L.createTransport();
    const requestIds = ids();
    const mute = transport.setGuideMuted(true, requestIds);
    same(
        mute.map((a) => [a.type, a.muted]),
        [['setGuideMuted', true]],
    );
    const play = transport.play(requestIds, 0, plan, 1).pop();
    const actions = transport.playReplied(
        { ok: true, type: 'playSong', requestId: play.requestId, totalDuration: 5 },
        1,
        requestIds,
    );
    same(
        actions.map((a) => [a.type, a.muted]),
        [['setGuideMuted', true]],
    );
    transport.stop(requestIds);
    transport.setGuideMuted(false, requestIds);
    const next = transport.play(requestIds, 0, plan, 1).pop();
    same(
        transport.playReplied(
            { ok: true, type: 'playSong', requestId: next.requestId, totalDuration: 5 },
            1,
            requestIds,
        ),
        [],
    );
});
