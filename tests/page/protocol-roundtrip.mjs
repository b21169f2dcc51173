// The page's requests as the native bridge reads them: each request the page builds goes through the
// program's own protocol parser (protocol-check), and the typed values must be the ones the page meant.
// Run by CTest with PROTOCOL_CHECK set to the checker program.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { loadLogic, plain } from './load-logic.mjs';

const L = loadLogic();
const checker = process.env.PROTOCOL_CHECK;

function readByBridge(requests) {
    const input = requests.map((r) => JSON.stringify(r)).join('\n') + '\n';
    const run = spawnSync(checker, { input, encoding: 'utf8' });
    assert.equal(run.status, 0, run.stderr);
    return run.stdout
        .trim()
        .split('\n')
        .map((line) => JSON.parse(line));
}

const device = { uid: 'alsa:hw:CARD=USB,DEV=0', name: 'Scarlett 18i20 USB', channels: 18, isDefault: false };
const rig = {
    deviceUid: device.uid,
    deviceName: device.name,
    deviceChannels: 18,
    click: [1, 2],
    guide: [2],
    pad: [17, 18],
    totalChannels: null,
};
const song = {
    title: 'Hold On',
    sections: L.parseSections('In:2,Intro 2:1,V:-1,Ch:4'),
    tempo: 92.5,
    beatsPerBar: 7,
    countInBars: 0,
    startSection: 3,
    padKey: 'Bb',
    chart: '1 | 4 % 5/7 | x 6-',
};

test(
    'every request the page sends is read by the bridge as the page meant it',
    { skip: !checker && 'PROTOCOL_CHECK is not set' },
    () => {
        const [list, tone, play, drone, silent, stop, mute, unmute] = readByBridge([
            L.listDevicesRequest('p-1'),
            L.testToneRequest('p-2', device.uid, 18, 18),
            L.playSongRequest('p-3', song, rig, device),
            L.playSongRequest('p-4', { ...song, chart: '' }, { ...rig, totalChannels: 4 }, device),
            L.playSongRequest('p-5', { ...song, padKey: '' }, rig, null),
            L.stopSongRequest('p-6'),
            L.setGuideMutedRequest('p-7', true),
            L.setGuideMutedRequest('p-8', false),
        ]);
        assert.deepEqual(list, { type: 'listDevices', requestId: 'p-1' });
        assert.deepEqual(tone, {
            type: 'testTone',
            requestId: 'p-2',
            selection: { deviceUid: device.uid, deviceNameContains: null },
            channel: 17,
            channelCount: 18,
        });
        assert.deepEqual(play, {
            type: 'playSong',
            requestId: 'p-3',
            selection: { deviceUid: device.uid, deviceNameContains: null },
            entries: plain(song.sections),
            click: [0, 1],
            guide: [1],
            pad: [16, 17],
            padKey: 'Bb',
            padChords: ['1', '4', '4', '5/7', 'x', '6-'],
            tempo: 92.5,
            beatsPerBar: 7,
            countInBars: 0,
            startSection: 3,
            totalChannels: 18,
        });
        assert.equal(drone.padKey, 'Bb');
        assert.equal(drone.padChords, null, 'no chart: a drone on the key');
        assert.equal(drone.totalChannels, 4);
        assert.equal(silent.padKey, null);
        assert.equal(silent.padChords, null);
        assert.equal(silent.totalChannels, 18, 'the remembered width when the device is not listed');
        assert.deepEqual(stop, { type: 'stopSong', requestId: 'p-6' });
        assert.deepEqual(mute, { type: 'setGuideMuted', requestId: 'p-7', muted: true });
        assert.deepEqual(unmute, { type: 'setGuideMuted', requestId: 'p-8', muted: false });
    },
);
