// The page's requests as the native bridge reads them: each request the page builds goes through the
// program's own protocol parser (PROTOCOL_CHECK names protocol_check), and what it reads must be what the
// page meant.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import * as L from '../../resources/page/logic.js';

const device = { uid: 'alsa:hw:CARD=USB,DEV=0', name: 'Scarlett 18i20 USB', channels: 18, isDefault: false };
const rig = { deviceUid: device.uid, deviceName: device.name, deviceChannels: 18, click: [1, 2], guide: [2],
    pad: [17, 18], totalChannels: null, levels: { click: -3, guide: -120, pad: 6 } };
const sections = [{ label: 'In', bars: 2 }, { label: 'Intro 2', bars: 1, beatsPerBar: 5 }, { label: 'V', bars: -1 },
    { label: 'Ch', bars: 4, tempo: 140.5, beatsPerBar: 3 }];
const song = { title: 'Hold On', sections, tempo: 92.5, beatsPerBar: 7, countInBars: 0, startSection: 3, padKey: 'Bb',
    chart: '1 | 4 % 5/7 | x [6- 2]' };
const played = { type: 'playSong', requestId: 'p', device: [device.uid, null], entries: ['In:2', 'Intro 2:1 at -/5',
    'V:-1', 'Ch:4 at 140.5/3'], click: [0, 1], guide: [1], pad: [16, 17], padKey: 'Bb', padChords: ['1', '4', '4',
    '5/7', 'x', '[6- 2]'], tempo: 92.5, beatsPerBar: 7, countInBars: 0, startSection: 3, totalChannels: 18,
    guideMuted: false, levels: [-3, -120, 6] };

test('the bridge reads each request the page sends as the page meant it', { skip: !process.env.PROTOCOL_CHECK }, () => {
    const table = [
        [L.listDevicesRequest('p'), { type: 'listDevices', requestId: 'p' }],
        [L.testToneRequest('p', device.uid, 18, 18),
            { type: 'testTone', requestId: 'p', device: [device.uid, null], channel: 17, channelCount: 18 }],
        [L.playSongRequest('p', song, rig, device), played],
        // No chart: a drone on the key; outputs in use capped by the interface.
        [L.playSongRequest('p', { ...song, chart: '' }, { ...rig, totalChannels: 4 }, device),
            { ...played, padChords: null, totalChannels: 4 }],
        [L.playSongRequest('p', song, { ...rig, totalChannels: 32 }, device), played],
        // No key, no pad; the remembered width when the interface is not listed, none when it is not known.
        [L.playSongRequest('p', { ...song, padKey: '' }, rig, null), { ...played, padKey: null, padChords: null }],
        [L.playSongRequest('p', song, { ...rig, deviceChannels: 0 }, null), { ...played, totalChannels: null }],
        [L.playSongRequest('p', song, rig, device, true), { ...played, guideMuted: true }],
        [L.exportSongRequest('p', song, rig, 'Hold On.wav'), { ...played, type: 'exportSong', device: [null, null],
            startSection: 0, fileName: 'Hold On.wav' }],
        [L.setLevelsRequest('p', rig.levels), { type: 'setLevels', requestId: 'p', levels: rig.levels }],
        [L.loadLibraryRequest('p'), { type: 'loadLibrary', requestId: 'p' }],
        [L.saveLibraryRequest('p', { version: 1, songs: [] }), { type: 'saveLibrary', requestId: 'p',
            library: { version: 1, songs: [] }, tooDeep: false }],
        [L.saveFileRequest('p', 'Set list.json', '{}\n'), { type: 'saveFile', requestId: 'p', fileName: 'Set list.json',
            text: '{}\n' }],
        [L.stopSongRequest('p'), { type: 'stopSong', requestId: 'p' }],
        [L.setGuideMutedRequest('p', 1), { type: 'setGuideMuted', requestId: 'p', muted: true }],
        [L.setGuideMutedRequest('p', false), { type: 'setGuideMuted', requestId: 'p', muted: false }],
    ];
    const input = table.map(([request]) => `${JSON.stringify(request)}\n`).join('');
    const run = spawnSync(process.env.PROTOCOL_CHECK, { input, encoding: 'utf8' });
    assert.equal(run.status, 0, run.stderr);
    const read = run.stdout.trim().split('\n').map((line) => JSON.parse(line));
    table.forEach(([request, expected], i) => assert.deepEqual(read[i], expected, JSON.stringify(request)));
});
