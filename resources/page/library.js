import { LIMITS } from './checks.js';
import { toOneBased, toZeroBased } from './sections.js';
import { isInteger, newSong, normalizeSong, songForFile, importSetList } from './setlist.js';

// ---- The library -------------------------------------------------------------------------------------------

// The page's own value, kept in a file by the program: {"version", "songs", "selected", "rig"}. The rig holds the
// chosen interface and a routing per interface: {"deviceUid", "devices": {uid: {deviceName, deviceChannels, click,
// guide, pad, totalChannels, levels: {click, guide, pad} in dB}}}. Fields this page does not know, at any of these levels, are written back as read.
// Songs are kept as song files are (see songForFile); version 1 kept them in the page's earlier form.
export const LIBRARY_VERSION = 2;

const isObject = (value) => value !== null && typeof value === 'object' && !Array.isArray(value);

// Levels per source in dB on top of the sound as made; below the slider's lowest step a source is off.
export const LEVELS = { min: -40, max: 6, off: -120 };

export function defaultRig() {
    return { deviceUid: null, deviceName: '', deviceChannels: 0, click: [1, 2], guide: [1, 2], pad: [], totalChannels: null,
        levels: { click: 0, guide: 0, pad: 0 } };
}

// A stored level as the sliders can show it: above the top it is the top, below the bottom it is off.
export function readLevel(value) {
    if (typeof value !== 'number' || Number.isNaN(value)) return 0;
    return value < LEVELS.min ? LEVELS.off : Math.min(value, LEVELS.max);
}

function channelList(value) {
    return toOneBased(toZeroBased(value)).filter((c) => c <= 1024);
}

// One interface's routing; what cannot be read takes its default.
export function readRouting(stored, deviceUid) {
    const rig = { ...defaultRig(), deviceUid };
    if (!isObject(stored)) return rig;
    if (typeof stored.deviceName === 'string') rig.deviceName = stored.deviceName;
    if (Number.isInteger(stored.deviceChannels) && stored.deviceChannels > 0) rig.deviceChannels = stored.deviceChannels;
    for (const name of ['click', 'guide', 'pad']) if (Array.isArray(stored[name])) rig[name] = channelList(stored[name]);
    if (Number.isInteger(stored.totalChannels) && stored.totalChannels >= 1) rig.totalChannels = stored.totalChannels;
    if (isObject(stored.levels)) for (const name of ['click', 'guide', 'pad']) rig.levels[name] = readLevel(stored.levels[name]);
    return rig;
}

// The routing in use from a stored rig; an earlier page kept one routing with its interface's uid beside it.
export function rigFromStored(stored) {
    if (!isObject(stored)) return defaultRig();
    const uid = typeof stored.deviceUid === 'string' ? stored.deviceUid : null;
    if (!isObject(stored.devices)) return readRouting(stored, uid);
    return readRouting(Object.hasOwn(stored.devices, uid ?? '') ? stored.devices[uid ?? ''] : null, uid);
}

// The stored rig with the routing in use written under its interface ('' before one is chosen).
export function storeRig(stored, rig) {
    const base = isObject(stored) && isObject(stored.devices) ? stored : {};
    const { deviceUid, ...routing } = rig;
    const key = deviceUid ?? '';
    const earlier = base.devices && Object.hasOwn(base.devices, key) ? base.devices[key] : {};
    return { ...base, deviceUid, devices: { ...base.devices, [key]: { ...earlier, ...routing } } };
}

// Choosing an interface brings back the routing it had; one never used takes over the routing in use.
export function switchRig(stored, rig, device) {
    const devices = isObject(stored) && isObject(stored.devices) ? stored.devices : {};
    const next = Object.hasOwn(devices, device.uid) ? readRouting(devices[device.uid], device.uid)
        : { ...rig, deviceUid: device.uid };
    return { ...next, deviceName: device.name, deviceChannels: device.channels };
}

export function makeLibrary(base, songs, selected, rig) {
    return { ...(isObject(base) ? base : {}), version: LIBRARY_VERSION, songs: songs.map(songForFile), selected, rig };
}

// What the page shows from a stored library, or why it cannot.
export function readLibrary(value) {
    const fail = (error) => ({ ok: false, error });
    if (!isObject(value) || !Array.isArray(value.songs)) return fail('it is not a library of songs');
    if (!isInteger(value.version) || value.version < 1 || value.version > LIBRARY_VERSION)
        return fail('it was written by a newer version of CadenzoPlayer');
    if (value.songs.length > LIMITS.songs) return fail(`it holds more than ${LIMITS.songs} songs`);
    const songs = [];
    for (const [i, raw] of value.songs.entries()) {
        const checked = normalizeSong(raw);
        if (!checked.ok) return fail(`song ${i + 1} ${checked.error}`);
        songs.push(checked.song);
    }
    if (songs.length === 0) songs.push(newSong());
    const selected = isInteger(value.selected) && value.selected >= 0 && value.selected < songs.length ? value.selected : 0;
    return { ok: true, base: value, songs, selected, rig: isObject(value.rig) ? value.rig : {} };
}

// The library made from what an earlier page kept in local storage: its set list text and its rig text. A set list
// that cannot be read comes back as `unreadable`; no data at all gives a null library.
export function legacyLibrary(setListText, rigText) {
    if (!setListText && !rigText) return { library: null, unreadable: null };
    const setList = setListText ? importSetList(setListText) : { ok: false };
    let stored = null;
    try {
        stored = JSON.parse(rigText || 'null');
    } catch (_) {
        stored = null;
    }
    const songs = setList.ok ? setList.songs : [newSong()];
    const selected = setList.ok ? JSON.parse(setListText).selected : 0;
    const library = readLibrary(makeLibrary({}, songs, selected, storeRig({}, rigFromStored(stored))));
    return { library: makeLibrary({}, library.songs, library.selected, library.rig),
        unreadable: setListText && !setList.ok ? setListText : null };
}
