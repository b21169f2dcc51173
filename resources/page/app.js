// The page's state, small shared functions, and the status line, alert bar and log every part writes to.
import * as L from './logic.js';

// How long each request may wait for its reply (ms). A tone takes about 1.5 s, a song prepares its sounds first;
// a learn waits for a pedal as long as it takes.
export const TIMEOUTS = { listDevices: 5000, testTone: 12000, playSong: 20000, stopSong: 5000, setGuideMuted: 5000,
    loadLibrary: 10000, saveLibrary: 10000, saveFile: 10000, setLevels: 5000, jumpToSection: 5000, setVamp: 5000,
    exportSong: 120000, controlStatus: 5000, setMidiMappings: 5000, connectMidiInput: 5000 };
export const LOG_LIMIT = 300;
export const TYPE_NAMES = {
    listDevices: 'List interfaces',
    testTone: 'Test tone',
    playSong: 'Play',
    stopSong: 'Stop',
    setGuideMuted: 'Cues on/off',
    deviceLost: 'Interface lost',
    loadLibrary: 'Read library',
    saveLibrary: 'Save library',
    saveFile: 'Save file',
    setLevels: 'Levels',
    jumpToSection: 'Jump',
    setVamp: 'Vamp',
    exportSong: 'Export WAV',
    control: 'Control',
    controlStatus: 'Control status',
    setMidiMappings: 'Pedal mappings',
    learnMidi: 'Learn pedal',
    connectMidiInput: 'MIDI input',
};

export const $ = (id) => document.getElementById(id);

export const app = {
    songs: [],
    selectedId: null,
    playingSong: null,
    rig: null,
    devices: null,
    tracker: L.createRequestTracker(`page${Date.now().toString(36)}${Math.random().toString(36).slice(2, 6)}`),
    transport: L.createTransport(),
    tone: null,
    toneChannels: new Map(),
    toneFailed: new Set(),
    taps: [],
    activeTab: 'song',
    fieldErrors: new Map(),
    unseenLogErrors: 0,
    storageFailed: false,
    nextSongId: 1,
    // Hands-free control: the program's last status, the mappings shown (`stored` once the library holds them),
    // the chosen MIDI input, the row waiting for a press, and failures to show in the Control tab.
    control: { status: null, mappings: null, stored: false, input: null, learning: null, problems: [] },
};

// ---- Small shared functions ----------------------------------------------------------------------------

export function element(tag, props = {}, children = []) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(props)) {
        if (value === undefined || value === null || value === false) continue;
        if (name === 'className') node.className = value;
        else if (name === 'text') node.textContent = value;
        else if (name === 'dataset') Object.assign(node.dataset, value);
        else if (name.startsWith('on')) node.addEventListener(name.slice(2), value);
        else node.setAttribute(name, value === true ? '' : value);
    }
    for (const child of [].concat(children)) {
        if (child !== null && child !== undefined) node.append(child);
    }
    return node;
}

export function nativeAudio() {
    const webkit = window.webkit;
    return (webkit && webkit.messageHandlers && webkit.messageHandlers.nativeAudio) || null;
}

export function selectedSong() {
    return app.songs.find((song) => song.id === app.selectedId) || null;
}

export function currentDevice() {
    if (!app.devices || !app.rig.deviceUid) return null;
    return app.devices.find((device) => device.uid === app.rig.deviceUid) || null;
}

export function deviceMissing() {
    return Boolean(app.devices && app.rig.deviceUid && !currentDevice());
}

export function withId(song) {
    return { ...song, id: app.nextSongId++ };
}

export function clockTime() {
    return new Date().toTimeString().slice(0, 8);
}

// ---- Status, alerts and the log ----------------------------------------------------------------------------

export function setStatus(text, action) {
    const line = $('statusLine');
    line.replaceChildren(text);
    if (action) {
        line.append(
            ' ',
            element('button', {
                type: 'button',
                text: action.label,
                style: 'min-height: 24px; padding: 0 10px; font-size: 14px',
                onclick: () => action.run(),
            }),
        );
    }
}

export function showAlert(text, level = 'error') {
    $('alert').hidden = false;
    $('alert').className = `alert${level === 'warn' ? ' warn' : ''}`;
    $('alertText').textContent = text;
}

export function hideAlert() {
    $('alert').hidden = true;
}

export function addLog(direction, type, text, level = '') {
    const entry = element('li', { className: level }, [
        element('span', { className: 'muted', text: clockTime() }),
        element('span', { className: 'dir', text: direction }),
        element('span', { text: TYPE_NAMES[type] || type }),
        element('span', { className: 'what', text }),
    ]);
    const log = $('log');
    log.prepend(entry);
    while (log.childElementCount > LOG_LIMIT) log.lastElementChild.remove();
    if (level === 'error' && app.activeTab !== 'log') {
        app.unseenLogErrors += 1;
        const badge = $('badge-log');
        badge.hidden = false;
        badge.textContent = String(app.unseenLogErrors);
    }
}
