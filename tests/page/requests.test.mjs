import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadLogic, plain } from './load-logic.mjs';

const L = loadLogic();
const song = (changes = {}) => ({
    title: 'Song',
    sections: L.parseSections('In:2,V:4'),
    tempo: 92.5,
    beatsPerBar: 3,
    countInBars: 1,
    startSection: 1,
    padKey: '',
    chart: '',
    ...changes,
});
const rig = (changes = {}) => ({
    deviceUid: 'alsa:hw:1',
    deviceName: 'Box',
    deviceChannels: 8,
    click: [1, 2],
    guide: [2],
    pad: [7, 8],
    totalChannels: null,
    ...changes,
});
const device = { uid: 'alsa:hw:1', name: 'Box', channels: 8, isDefault: false };

test('channels are shown from 1 and sent from 0', () => {
    assert.deepEqual(plain(L.toZeroBased([1, 3, 8])), [0, 2, 7]);
    assert.deepEqual(plain(L.toZeroBased([3, 1, 3, 0, -2, 2.5, NaN])), [0, 2]);
    assert.deepEqual(plain(L.toOneBased([0, 2, 7])), [1, 3, 8]);
    assert.deepEqual(plain(L.toOneBased(L.toZeroBased([16, 4]))), [4, 16]);
});

test('a test tone names one 0-based channel and the whole device width', () => {
    assert.deepEqual(plain(L.testToneRequest('r-1', 'alsa:hw:1', 5, 18)), {
        type: 'testTone',
        requestId: 'r-1',
        deviceUid: 'alsa:hw:1',
        channels: [4],
        channelCount: 18,
    });
});

test('a song request carries exactly the protocol fields with their types', () => {
    const request = plain(L.playSongRequest('r-2', song(), rig(), device));
    assert.deepEqual(request, {
        type: 'playSong',
        requestId: 'r-2',
        deviceUid: 'alsa:hw:1',
        entries: [
            { label: 'In', bars: 2 },
            { label: 'V', bars: 4 },
        ],
        click: [0, 1],
        guide: [1],
        pad: [6, 7],
        tempo: 92.5,
        beatsPerBar: 3,
        countInBars: 1,
        startSection: 1,
        totalChannels: 8,
    });
});

test('the pad is sent only with a key, and the chart only when there is one', () => {
    const withKey = plain(L.playSongRequest('r', song({ padKey: 'F#' }), rig(), device));
    assert.equal(withKey.padKey, 'F#');
    assert.equal('padChords' in withKey, false);
    const withChart = plain(L.playSongRequest('r', song({ padKey: 'Eb', chart: '1 | 4 % x' }), rig(), device));
    assert.deepEqual(withChart.padChords, ['1', '4', '4', 'x']);
    const noKey = plain(L.playSongRequest('r', song({ chart: '1 4' }), rig(), device));
    assert.equal('padKey' in noKey, false);
    assert.equal('padChords' in noKey, false);
});

test('outputs in use are capped by the device and follow it when not set', () => {
    assert.equal(L.playSongRequest('r', song(), rig({ totalChannels: 4 }), device).totalChannels, 4);
    assert.equal(L.playSongRequest('r', song(), rig({ totalChannels: 32 }), device).totalChannels, 8);
    assert.equal(L.playSongRequest('r', song(), rig({ deviceChannels: 18 }), null).totalChannels, 18);
    assert.equal('totalChannels' in L.playSongRequest('r', song(), rig({ deviceChannels: 0 }), null), false);
});

test('the small requests', () => {
    assert.deepEqual(plain(L.listDevicesRequest('a')), { type: 'listDevices', requestId: 'a' });
    assert.deepEqual(plain(L.stopSongRequest('b')), { type: 'stopSong', requestId: 'b' });
    assert.deepEqual(plain(L.setGuideMutedRequest('c', 1)), { type: 'setGuideMuted', requestId: 'c', muted: true });
});

test("errors read as a musician's sentence with the program's text beside it", () => {
    assert.equal(L.describeError('No matching device'), "The audio interface isn't connected (No matching device)");
    assert.match(
        L.describeError("Couldn't select device: -50"),
        /could not be selected.*\(Couldn't select device: -50\)$/,
    );
    assert.match(L.describeError('setSinkId equivalent failed: -10851'), /could not be selected/);
    assert.match(
        L.describeError('Could not build 24-channel layout'),
        /that many outputs \(Could not build 24-channel layout\)/,
    );
    assert.match(L.describeError("Couldn't build 3-channel layout"), /that many outputs/);
    assert.match(
        L.describeError('Unknown message type: stopsong'),
        /does not know this command \(Unknown message type: stopsong\)/,
    );
    assert.equal(L.describeError('Boom'), 'The audio engine reported a problem (Boom)');
    assert.equal(L.describeError(undefined), 'The audio engine reported a problem (no reason given)');
    assert.equal(L.describeError('xNo matching device'), 'The audio engine reported a problem (xNo matching device)');
});

test('checks before playing block what the player would play wrongly', () => {
    const errors = (s) =>
        plain(L.songProblems(s))
            .filter((p) => p.level === 'error')
            .map((p) => p.text);
    const warnings = (s) =>
        plain(L.songProblems(s))
            .filter((p) => p.level === 'warning')
            .map((p) => p.text);
    assert.deepEqual(errors(song()), []);
    assert.equal(errors(song({ tempo: 0 })).length, 1);
    assert.equal(errors(song({ tempo: NaN })).length, 1);
    assert.equal(errors(song({ beatsPerBar: 2.5 })).length, 1);
    assert.equal(errors(song({ countInBars: -1 })).length, 1);
    assert.equal(errors(song({ sections: [] })).length, 1);
    assert.equal(errors(song({ sections: [{ label: 'V', bars: 1000 }] })).length, 1);
    assert.deepEqual(
        errors(
            song({
                sections: [
                    { label: 'V', bars: 0 },
                    { label: ' ', bars: 2 },
                ],
            }),
        ),
        [],
    );
    assert.equal(
        warnings(
            song({
                sections: [
                    { label: 'V', bars: 0 },
                    { label: ' ', bars: 2 },
                ],
            }),
        ).length,
        2,
    );
});

test('routing checks name the interface and the silent outputs', () => {
    const texts = (r, d) => plain(L.routingProblems(r, d)).map((p) => `${p.level}: ${p.text}`);
    assert.deepEqual(texts(rig({ deviceUid: null }), null), ['error: Choose an audio interface under Outputs.']);
    assert.deepEqual(texts(rig(), device), []);
    assert.deepEqual(texts(rig({ pad: [9, 12] }), device), [
        'warning: Pad on output 9, 12 stays silent: the interface has 8.',
    ]);
    assert.deepEqual(texts(rig({ totalChannels: 2, click: [1], guide: [3] }), device), [
        'warning: Cues on output 3 stays silent: only 2 outputs are in use.',
        'warning: Pad on output 7, 8 stays silent: only 2 outputs are in use.',
    ]);
    assert.equal(texts(rig({ click: [], guide: [] }), device).length, 2);
});

test('tap tempo follows the latest run of taps', () => {
    assert.equal(L.tapTempo([]), null);
    assert.equal(L.tapTempo([1000]), null);
    assert.equal(L.tapTempo([0, 500, 1000, 1500]), 120);
    assert.equal(L.tapTempo([0, 600, 1200, 5000, 5400]), 150);
    assert.equal(L.tapTempo([0, 10, 20]), 400);
    assert.equal(L.tapTempo([0, 1900, 3800]), 32);
    const steady = [0, 1000, 2000, 3000, 4000, 4500, 5000, 5500, 6000, 6500, 7000, 7500, 8000];
    assert.equal(L.tapTempo(steady), 120);
});
