import * as L from './logic.js';
import { $, app, element, nativeAudio, selectedSong, setStatus, showAlert, hideAlert } from './app.js';
import { loadLibrary, saveRig, flushOnUnload } from './store.js';
import { handleResult, checkTimeouts } from './messages.js';
import { listDevices, wireLevels } from './outputs.js';
import { togglePlay, toggleGuide, toggleVamp, tick } from './transport.js';
import { songChanged, addSong, moveSong, deleteSong, transferMessage, openTransfer, importText, downloadSetList, exportSongs } from './songs.js';
import { bindNumberField, readStrictInteger, readNumber, setTempo, tap, applySectionsText, addSection, renderSectionsHint } from './editor.js';
import { renderAll } from './view.js';
import { TABS, showTab, isTypingTarget, onKeyDown, onTabKey } from './keys.js';
import { wireControl } from './control-tab.js';

// ---- Start-up ----------------------------------------------------------------------------------------------

export function fillKeyOptions() {
    $('padKey').replaceChildren(
        element('option', { value: '', text: 'No pad' }),
        ...L.KEY_NAMES.map((name) => element('option', { value: name, text: L.keyLabel(name) })),
    );
}

export function wire() {
    $('playButton').addEventListener('click', togglePlay);
    $('guideButton').addEventListener('click', toggleGuide);
    $('vampButton').addEventListener('click', toggleVamp);
    $('alertDismiss').addEventListener('click', hideAlert);
    $('deviceSummary').addEventListener('click', () => showTab('outputs'));
    $('newSong').addEventListener('click', () => addSong(L.newSong('New song')));
    $('duplicateSong').addEventListener('click', () => {
        const song = selectedSong();
        const copy = L.normalizeSong({ ...L.songForFile(song), title: `${song.title} (copy)`.slice(0, L.LIMITS.titleLength) });
        if (copy.ok) addSong(copy.song);
        else setStatus(`This song cannot be copied: it ${copy.error}.`);
    });
    $('deleteSong').addEventListener('click', deleteSong);
    $('songUp').addEventListener('click', () => moveSong(-1));
    $('songDown').addEventListener('click', () => moveSong(1));
    $('openTransfer').addEventListener('click', openTransfer);
    $('closeTransfer').addEventListener('click', () => $('transfer').close());
    $('importText').addEventListener('click', () => importText($('transferText').value, 'The text'));
    $('chooseFile').addEventListener('click', () => $('importFile').click());
    $('importFile').addEventListener('change', () => {
        const file = $('importFile').files[0];
        $('importFile').value = '';
        if (!file) return;
        if (file.size > 2000000) {
            transferMessage(`${file.name}: this file is far too large to be a set list.`, 'bad');
            return;
        }
        file.text().then(
            (text) => importText(text, file.name),
            () => transferMessage(`${file.name} could not be read.`, 'bad'),
        );
    });
    $('downloadFile').addEventListener('click', downloadSetList);
    $('exportSong').addEventListener('click', () => exportSongs(false));
    $('exportSetList').addEventListener('click', () => exportSongs(true));
    $('copyText').addEventListener('click', () => {
        $('transferText').select();
        const copied = navigator.clipboard
            ? navigator.clipboard.writeText($('transferText').value)
            : Promise.reject();
        copied.then(
            () => transferMessage('Copied.', 'good'),
            () => transferMessage('Selected: press Ctrl+C to copy.', ''),
        );
    });
    $('refreshDevices').addEventListener('click', listDevices);
    wireLevels();
    wireControl();
    $('clearLog').addEventListener('click', () => $('log').replaceChildren());
    for (const tab of TABS) $(`tab-${tab}`).addEventListener('click', () => showTab(tab));
    document.querySelector('.tabs').addEventListener('keydown', onTabKey);
    document.addEventListener('keydown', onKeyDown);
    // A button keeps the focus after a click; Space must not press it again.
    document.addEventListener('keyup', (event) => {
        if ((event.key === ' ' || event.code === 'Space') && !isTypingTarget(event.target)) event.preventDefault();
    });

    $('songTitle').addEventListener('input', () => {
        selectedSong().title = $('songTitle').value;
        songChanged();
    });
    bindNumberField('tempo', {
        read: readNumber,
        valid: (v) => Number.isFinite(v) && v >= L.LIMITS.tempo[0] && v <= L.LIMITS.tempo[1],
        message: `Tempo must be between ${L.LIMITS.tempo[0]} and ${L.LIMITS.tempo[1]} bpm.`,
        apply: (v) => {
            selectedSong().tempo = v;
            songChanged();
        },
    });
    bindNumberField('beatsPerBar', {
        read: readStrictInteger,
        valid: (v) => v !== null && v >= L.LIMITS.beatsPerBar[0] && v <= L.LIMITS.beatsPerBar[1],
        message: `Beats per bar must be a whole number from ${L.LIMITS.beatsPerBar.join(' to ')}.`,
        apply: (v) => {
            selectedSong().beatsPerBar = v;
            songChanged();
        },
    });
    bindNumberField('countInBars', {
        read: readStrictInteger,
        valid: (v) => v !== null && v >= L.LIMITS.countInBars[0] && v <= L.LIMITS.countInBars[1],
        message: `Count-in must be a whole number of bars from 0 to ${L.LIMITS.countInBars[1]}.`,
        apply: (v) => {
            selectedSong().countInBars = v;
            songChanged();
        },
    });
    bindNumberField('totalChannels', {
        read: (text) => (text.trim() === '' ? 'all' : readStrictInteger(text)),
        valid: (v) => v === 'all' || (v !== null && v >= 1 && v <= 1024),
        message: 'Outputs in use must be a whole number from 1, or empty for all.',
        apply: (v) => {
            app.rig.totalChannels = v === 'all' ? null : v;
            saveRig();
            renderAll();
        },
    });
    $('tempoDown').addEventListener('click', () => setTempo(Math.ceil(selectedSong().tempo) - 1));
    $('tempoUp').addEventListener('click', () => setTempo(Math.floor(selectedSong().tempo) + 1));
    $('tapTempo').addEventListener('click', tap);
    $('startSection').addEventListener('change', () => {
        selectedSong().startSection = Number($('startSection').value);
        songChanged({ sections: true });
    });
    $('sectionsText').addEventListener('input', renderSectionsHint);
    $('sectionsText').addEventListener('change', applySectionsText);
    $('sectionsText').addEventListener('blur', renderSectionsHint);
    for (const button of document.querySelectorAll('[data-add]')) {
        button.addEventListener('click', () => addSection(button.dataset.add));
    }
    $('padKey').addEventListener('change', () => {
        selectedSong().padKey = $('padKey').value;
        songChanged();
    });
    $('padChart').addEventListener('input', () => {
        selectedSong().chart = $('padChart').value.slice(0, L.LIMITS.chartLength);
        songChanged();
    });
}

function onNativeAudioResult(result) {
    try {
        handleResult(result);
    } catch (error) {
        showAlert(`This page failed while handling a reply: ${error.message}`);
    }
}

// Results that came before this module ran waited in the page's first script. A handler someone else put in
// place meanwhile (the program's self-test) keeps its place, as it would over an earlier classic script.
const early = window.cadenzoEarlyResults || { results: [], wait: null };
if (!window.onNativeAudioResult || window.onNativeAudioResult === early.wait) window.onNativeAudioResult = onNativeAudioResult;
for (const result of early.results.splice(0)) onNativeAudioResult(result);

export function start() {
    // Results go elsewhere (the program's self-test): the page asks nothing, so that it takes no answer meant there.
    if (window.onNativeAudioResult !== onNativeAudioResult) return;
    loadLibrary();
    fillKeyOptions();
    wire();
    renderAll({ editor: true });
    if (nativeAudio()) {
        listDevices();
    } else {
        showAlert(
            'Opened outside CadenzoPlayer: there is no audio engine here. ' +
                'Songs and set lists can still be edited, saved and exported.',
            'warn',
        );
    }
    addEventListener('beforeunload', flushOnUnload);
    setInterval(checkTimeouts, 250);
    window.requestAnimationFrame(tick);
}

start();
