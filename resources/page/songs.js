import * as L from './logic.js';
import { $, app, element, nativeAudio, withId, setStatus, selectedSong } from './app.js';
import { saveSongs, store } from './store.js';
import { requestIdFor, post } from './messages.js';
import { renderAll } from './view.js';

// ---- Songs ------------------------------------------------------------------------------------------------

export function selectSong(id) {
    if (!app.songs.some((song) => song.id === id)) return;
    app.selectedId = id;
    app.fieldErrors.clear();
    saveSongs();
    renderAll({ editor: true });
}

export function selectRelative(step) {
    const index = app.songs.findIndex((song) => song.id === app.selectedId);
    const next = app.songs[index + step];
    if (next) selectSong(next.id);
}

export function songChanged({ sections = false, editor = false } = {}) {
    saveSongs();
    renderAll({ sections, editor });
}

export function addSong(song) {
    const index = app.songs.findIndex((s) => s.id === app.selectedId);
    const added = withId(song);
    app.songs.splice(index + 1, 0, added);
    selectSong(added.id);
    $('songTitle').focus();
    $('songTitle').select();
}

export function moveSong(step) {
    const index = app.songs.findIndex((song) => song.id === app.selectedId);
    const target = index + step;
    if (index < 0 || target < 0 || target >= app.songs.length) return;
    const [song] = app.songs.splice(index, 1);
    app.songs.splice(target, 0, song);
    songChanged();
}

export function deleteSong() {
    const index = app.songs.findIndex((song) => song.id === app.selectedId);
    if (index < 0) return;
    const [removed] = app.songs.splice(index, 1);
    if (app.songs.length === 0) app.songs.push(withId(L.newSong('New song')));
    app.selectedId = app.songs[Math.min(index, app.songs.length - 1)].id;
    saveSongs();
    renderAll({ editor: true });
    setStatus(`Deleted "${removed.title}".`, {
        label: 'Undo',
        run: () => {
            app.songs.splice(Math.min(index, app.songs.length), 0, removed);
            selectSong(removed.id);
            setStatus(`"${removed.title}" is back.`);
        },
    });
}

export function songMeta(song) {
    const beats = `${song.beatsPerBar} beat${song.beatsPerBar === 1 ? '' : 's'}`;
    return [`${song.tempo} bpm`, beats, song.padKey ? `pad ${L.keyLabel(song.padKey)}` : '']
        .filter(Boolean)
        .join(' · ');
}

export function renderSetList() {
    const list = $('songs');
    const playingId = app.transport.state.phase !== 'stopped' ? app.transport.state.songId : null;
    list.replaceChildren(
        ...app.songs.map((song, index) =>
            element(
                'li',
                {},
                element(
                    'button',
                    {
                        type: 'button',
                        className: `song-item${song.id === playingId ? ' playing' : ''}`,
                        'data-key': `song-${song.id}`,
                        'aria-current': song.id === app.selectedId ? 'true' : 'false',
                        onclick: () => selectSong(song.id),
                    },
                    [
                        element('span', { className: 'n', text: String(index + 1) }),
                        element('span', { className: 't', text: song.title || 'Untitled' }),
                        element('span', { className: 'm', text: `${song.tempo} bpm` }),
                    ],
                ),
            ),
        ),
    );
    $('songCount').textContent = `${app.songs.length} song${app.songs.length === 1 ? '' : 's'}`;
    const index = app.songs.findIndex((song) => song.id === app.selectedId);
    $('songUp').disabled = index <= 0;
    $('songDown').disabled = index < 0 || index >= app.songs.length - 1;
    const current = list.querySelector('[aria-current="true"]');
    if (current && current.scrollIntoView) current.scrollIntoView({ block: 'nearest' });
}

export function transferMessage(text, kind) {
    const message = $('transferMessage');
    message.textContent = text;
    message.className = `dialog-message ${kind}`;
}

export function openTransfer() {
    $('transferText').value = L.exportSetList(app.songs, store.rigStore);
    transferMessage(
        `${app.songs.length} song${app.songs.length === 1 ? '' : 's'} shown above. ` +
            'Paste another set list here to import it.',
        '',
    );
    $('transfer').showModal();
}

export function importText(text, source) {
    const result = L.importSetList(text);
    if (!result.ok) {
        transferMessage(`${source}: ${result.error}`, 'bad');
        return;
    }
    const added = result.songs.map(withId);
    app.songs.push(...added);
    app.selectedId = added[0].id;
    // A file without routing leaves the routing as it is.
    if (result.rig) {
        store.rigStore = { ...store.rigStore, ...result.rig, devices: { ...store.rigStore.devices, ...result.rig.devices } };
        app.rig = L.rigFromStored(store.rigStore);
    }
    saveSongs();
    renderAll({ editor: true });
    transferMessage(
        `Added ${added.length} song${added.length === 1 ? '' : 's'} to the end of the set list.`,
        'good',
    );
    setStatus(`Imported ${added.length} song${added.length === 1 ? '' : 's'}.`);
}

// Inside the program the file goes where the program keeps documents; in a browser, to its downloads.
export function downloadSetList() {
    const text = L.exportSetList(app.songs, store.rigStore);
    if (nativeAudio()) {
        transferMessage('Saving…', '');
        post(L.saveFileRequest(requestIdFor('saveFile'), `Set list ${new Date().toISOString().slice(0, 10)}.json`, text));
        return;
    }
    const blob = new Blob([text], { type: 'application/json' });
    const link = element('a', {
        href: URL.createObjectURL(blob),
        download: `set-list-${new Date().toISOString().slice(0, 10)}.json`,
    });
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    transferMessage('The file is being saved to your downloads.', 'good');
}

export function onFileSaved(result, local) {
    if (result.ok === true) transferMessage(`Saved as ${result.path}`, 'good');
    else transferMessage(`The file was not saved: ${local ? result.error : L.describeError(result.error)}`, 'bad');
}

// ---- Export as WAV -------------------------------------------------------------------------------------------

// One song at a time, in set list order: the program renders them one after another anyway.
const exporting = { queue: [], lines: [], requestId: null };

export function exportSongs(all) {
    if (!nativeAudio()) {
        transferMessage('Only CadenzoPlayer itself can export WAV files.', 'bad');
        return;
    }
    if (exporting.queue.length > 0) return;
    exporting.queue = all ? [...app.songs] : [selectedSong()];
    exporting.lines = [];
    exportNext();
}

function exportNext() {
    const song = exporting.queue[0];
    if (!song) return;
    const problem = L.songProblems(song).find((p) => p.level === 'error');
    if (problem) {
        exporting.lines.push(`"${song.title}" was not exported: ${problem.text}`);
        exporting.queue.shift();
        exportNext();
    } else {
        exporting.requestId = requestIdFor('exportSong');
        post(L.exportSongRequest(exporting.requestId, song, app.rig, L.exportFileName(song.title)));
    }
    showExports();
}

function showExports() {
    const waiting = exporting.queue.length;
    const lines = [...exporting.lines, ...(waiting > 0 ? [`Exporting "${exporting.queue[0].title}"… (${waiting} to go)`] : [])];
    transferMessage(lines.join('\n'), exporting.lines.some((l) => !l.includes(' → ')) ? 'bad' : 'good');
}

export function onExported(result, request, local) {
    // A late answer, after its song was given up.
    if (request.id !== exporting.requestId) return;
    exporting.requestId = null;
    const song = exporting.queue.shift();
    exporting.lines.push(result.ok === true ? `"${song.title}" → ${result.path}`
        : `"${song.title}" was not exported: ${local ? result.error : L.describeError(result.error)}`);
    exportNext();
    showExports();
}
