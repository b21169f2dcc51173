// Where songs and routing are kept. Inside the program: the library file, read and written through the bridge.
// In an ordinary browser: this page's local storage, under the keys an earlier page used.
import * as L from './logic.js';
import { app, nativeAudio, withId, setStatus, showAlert } from './app.js';
import { requestIdFor, post } from './messages.js';

// The keys an earlier page used, and still used in a browser.
const STORAGE_SONGS = 'cadenzo.setlist.v1';
const STORAGE_SONGS_BACKUP = 'cadenzo.setlist.unreadable';
const STORAGE_RIG = 'cadenzo.rig.v1';
// Saves wait this long for more changes, so that typing writes the file a few times a second at most.
const SAVE_DELAY_MS = 300;

export const store = {
    mode: 'loading', // loading | file | local
    base: {}, // the library as read, with the fields this page does not know
    rigStore: {}, // the stored rig: the routing of every interface
    dirty: false,
    saving: null, // the requestId of the save on its way
    timer: null,
    failed: false,
    migrated: false, // the old keys go once the file holds their data
};

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

function selectedIndex() {
    return Math.max(0, app.songs.findIndex((song) => song.id === app.selectedId));
}

function show(songs, selected, rigStore) {
    app.songs = songs.map(withId);
    app.selectedId = app.songs[selected].id;
    store.rigStore = rigStore;
    app.rig = L.rigFromStored(rigStore);
}

// Until the library has arrived nothing is shown as saved, and nothing is written.
export function loadLibrary() {
    show([L.newSong()], 0, {});
    if (!nativeAudio()) return loadLocal();
    document.querySelector('main').hidden = true;
    setStatus('Reading the library…');
    post(L.loadLibraryRequest(requestIdFor('loadLibrary')));
}

// What an earlier page kept in local storage, shown; true when there was any.
function showLegacy() {
    const legacy = L.legacyLibrary(readStorage(STORAGE_SONGS), readStorage(STORAGE_RIG));
    if (!legacy.library) return false;
    const read = L.readLibrary(legacy.library);
    show(read.songs, read.selected, read.rig);
    keepUnreadable(legacy.unreadable);
    return true;
}

function loadLocal() {
    store.mode = 'local';
    showLegacy();
}

// Kept rather than overwritten.
function keepUnreadable(text) {
    if (!text) return;
    writeStorage(STORAGE_SONGS_BACKUP, text);
    showAlert('The saved set list could not be read. It was kept aside, and a new set list was started.', 'warn');
}

export function onLibraryLoaded(result) {
    document.querySelector('main').hidden = false;
    if (result.ok !== true) {
        // A program without a library file: the page keeps its songs as an earlier page did.
        if (!/^Unknown message type/.test(result.error))
            showAlert(`The library could not be read (${result.error}). Changes are kept in this page's own storage.`);
        loadLocal();
        return;
    }
    store.mode = 'file';
    setStatus('');
    if (typeof result.warning === 'string') showAlert(result.warning, 'warn');
    if (result.library === null || result.library === undefined) return migrate();
    const read = L.readLibrary(result.library);
    if (read.ok) {
        show(read.songs, read.selected, read.rig);
        store.base = read.base;
        return;
    }
    showAlert(`The library could not be read: ${read.error}. A new set list was started; the next change replaces it.`,
        'warn');
}

// The first start with a library file takes over what local storage held, and clears it once the file has it.
function migrate() {
    if (!showLegacy()) return;
    store.migrated = true;
    saveNow();
}

function saveLocal() {
    const data = JSON.parse(L.exportSetList(app.songs));
    data.selected = selectedIndex();
    writeStorage(STORAGE_SONGS, JSON.stringify(data));
    writeStorage(STORAGE_RIG, JSON.stringify(app.rig));
}

function saveNow() {
    clearTimeout(store.timer);
    store.timer = null;
    if (store.saving !== null) return;
    store.dirty = false;
    const library = L.makeLibrary(store.base, app.songs, selectedIndex(), store.rigStore);
    store.saving = requestIdFor('saveLibrary');
    post(L.saveLibraryRequest(store.saving, library));
}

// quiet: a change the page made itself (the interface's name as listed, the first default interface); it goes
// with the next save rather than causing one.
function changed(quiet) {
    store.rigStore = L.storeRig(store.rigStore, app.rig);
    if (store.mode === 'local') return saveLocal();
    if (store.mode !== 'file') return;
    store.dirty = true;
    if (!quiet && store.timer === null && store.saving === null) store.timer = setTimeout(saveNow, SAVE_DELAY_MS);
}

export function saveSongs() {
    changed(false);
}

export function saveRig(quiet = false) {
    changed(quiet);
}

// Pedal mappings and the MIDI input, under "control" beside the fields this page keeps as read.
export function saveControl(fields) {
    const control = store.base.control !== null && typeof store.base.control === 'object' ? store.base.control : {};
    store.base = { ...store.base, control: { ...control, ...fields } };
    changed(false);
}

export function onLibrarySaved(result, request) {
    if (request.id !== store.saving) return;
    store.saving = null;
    if (result.ok !== true) {
        // Kept here; the next change tries again.
        store.dirty = true;
        store.failed = true;
        showAlert(`The library could not be saved: ${result.error}. Your changes are kept in this window and saved ` +
            'with the next change.');
        return;
    }
    if (store.failed) setStatus('The library is saved again.');
    store.failed = false;
    if (store.migrated) {
        store.migrated = false;
        try {
            for (const key of [STORAGE_SONGS, STORAGE_RIG]) window.localStorage.removeItem(key);
        } catch (_) {
            // Left behind: the library wins over them from now on.
        }
    }
    if (store.dirty) store.timer = setTimeout(saveNow, SAVE_DELAY_MS);
}

// Leaving the page writes what is still waiting.
export function flushOnUnload() {
    if (store.mode === 'file' && store.dirty) {
        store.saving = null;
        saveNow();
    }
}

export function chooseRig(device) {
    app.rig = L.switchRig(store.rigStore, app.rig, device);
}
