import * as L from './logic.js';
import { STORAGE_SONGS, STORAGE_SONGS_BACKUP, STORAGE_RIG, app, withId, showAlert } from './app.js';

// ---- Storage -------------------------------------------------------------------------------------------

export function readStorage(key) {
    try {
        return window.localStorage.getItem(key);
    } catch (_) {
        app.storageFailed = true;
        return null;
    }
}

export function writeStorage(key, value) {
    try {
        window.localStorage.setItem(key, value);
        return true;
    } catch (_) {
        if (!app.storageFailed)
            showAlert('Songs and settings cannot be saved on this computer: storage is unavailable.', 'warn');
        app.storageFailed = true;
        return false;
    }
}

export function loadSongs() {
    const text = readStorage(STORAGE_SONGS);
    if (text) {
        const loaded = L.importSetList(text);
        if (loaded.ok) {
            app.songs = loaded.songs.map(withId);
            let selected = 0;
            try {
                selected = JSON.parse(text).selected;
            } catch (_) {
                /* already parsed once */
            }
            const index = Number.isInteger(selected) && selected >= 0 && selected < app.songs.length ? selected : 0;
            app.selectedId = app.songs[index].id;
            return;
        }
        // Keep what could not be read rather than overwrite it.
        writeStorage(STORAGE_SONGS_BACKUP, text);
        showAlert(
            'The saved set list could not be read. It was kept aside, and a new set list was started.',
            'warn',
        );
    }
    app.songs = [withId(L.newSong('New song'))];
    app.selectedId = app.songs[0].id;
}

export function saveSongs() {
    const data = JSON.parse(L.exportSetList(app.songs));
    data.selected = Math.max(
        0,
        app.songs.findIndex((song) => song.id === app.selectedId),
    );
    writeStorage(STORAGE_SONGS, JSON.stringify(data));
}

export function channelList(value) {
    return Array.isArray(value) ? L.toOneBased(L.toZeroBased(value)).filter((c) => c <= 1024) : [];
}

export function loadRig() {
    const rig = {
        deviceUid: null,
        deviceName: '',
        deviceChannels: 0,
        click: [1, 2],
        guide: [1, 2],
        pad: [],
        totalChannels: null,
    };
    let stored = null;
    try {
        stored = JSON.parse(readStorage(STORAGE_RIG) || 'null');
    } catch (_) {
        stored = null;
    }
    if (stored && typeof stored === 'object') {
        if (typeof stored.deviceUid === 'string') rig.deviceUid = stored.deviceUid;
        if (typeof stored.deviceName === 'string') rig.deviceName = stored.deviceName;
        if (Number.isInteger(stored.deviceChannels) && stored.deviceChannels > 0)
            rig.deviceChannels = stored.deviceChannels;
        for (const name of ['click', 'guide', 'pad']) {
            if (Array.isArray(stored[name])) rig[name] = channelList(stored[name]);
        }
        if (Number.isInteger(stored.totalChannels) && stored.totalChannels >= 1)
            rig.totalChannels = stored.totalChannels;
    }
    app.rig = rig;
}

export function saveRig() {
    writeStorage(STORAGE_RIG, JSON.stringify(app.rig));
}
