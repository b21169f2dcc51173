import * as L from './logic.js';
import { $, app, element, nativeAudio, selectedSong, addLog } from './app.js';
import { requestIdFor, post } from './messages.js';
import { store, saveControl } from './store.js';
import { startSong, stopSong, togglePlay, setGuideMuted, setVamp, sectionClicked } from './transport.js';
import { selectRelative } from './songs.js';
import { tap } from './editor.js';
import { keepFocus } from './view.js';

// ---- Foot switches and tablets ------------------------------------------------------------------------------

// Each action takes the path of the key or button that does it on the page.
const RUN = {
    playStop: togglePlay,
    play: () => startSong(),
    stop: stopSong,
    song: (step) => selectRelative(step.step),
    section: (step) => sectionClicked(step.section, false),
    vamp: (step) => setVamp(step.on),
    cues: (step) => setGuideMuted(step.muted),
    tap,
};

function situation() {
    const state = app.transport.state;
    const song = state.phase === 'stopped' ? selectedSong() : app.playingSong;
    let nextSection = null;
    if (state.phase === 'playing') {
        const elapsed = app.transport.elapsed(performance.now());
        const at = L.positionAt(state.plan, elapsed, app.transport.endsAt(), app.transport.songTime(elapsed));
        nextSection = at.phase === 'countIn' ? 0 : at.phase === 'section' ? at.sectionIndex + 1 : null;
    }
    return { phase: state.phase, vamp: state.vamp, guideMuted: state.guideMuted, songCount: app.songs.length,
        songIndex: app.songs.findIndex((s) => s.id === app.selectedId), sections: song ? song.sections.length : 0,
        nextSection };
}

export function onControlMessage(message) {
    const step = L.controlStep(message, situation());
    const words = L.controlWords(message);
    addLog('←', 'control', step.why ? `${words}: not done, ${step.why}` : words, step.why ? 'warn' : '');
    if (!step.why) RUN[step.run](step);
}

// ---- Start-up and replies ------------------------------------------------------------------------------------

function sendMappings() {
    post(L.setMidiMappingsRequest(requestIdFor('setMidiMappings'), app.control.mappings));
}

function askStatus() {
    post(L.controlStatusRequest(requestIdFor('controlStatus')));
}

function connectInput() {
    post(L.connectMidiInputRequest(requestIdFor('connectMidiInput'), app.control.input));
}

// Once the library is in: the program gets its mappings and input, then says how things stand.
export function startControl() {
    if (!nativeAudio()) return;
    const stored = L.readControl(store.base);
    app.control.input = stored.input;
    if (stored.mappings) {
        Object.assign(app.control, { mappings: stored.mappings, stored: true });
        sendMappings();
    }
    if (stored.input !== null) connectInput();
    askStatus();
    renderControl();
}

const FAILURES = {
    controlStatus: 'The control status could not be read',
    setMidiMappings: 'The program did not take the pedal mappings (they are kept)',
    connectMidiInput: 'The MIDI input could not be connected',
    learnMidi: 'No pedal was learned',
};

export function onControlReply(result, request) {
    const control = app.control;
    const learned = control.learning && control.learning.requestId === request.id ? control.learning : null;
    if (learned) control.learning = null;
    if (result.ok !== true) {
        // A learn cancelled here, or replaced by the next one, is no failure.
        if (request.type !== 'learnMidi' || (learned && result.error !== 'Learning cancelled'))
            control.problems.push(`${FAILURES[request.type]}: ${result.error}`);
    } else if (request.type === 'controlStatus') {
        control.status = result;
        if (!control.stored && Array.isArray(result.mappings)) control.mappings = result.mappings;
    } else if (learned && L.isPress(result.press)) {
        changeMappings(L.learnBinding(currentMappings(), learned.target, result.press));
    } else if (learned) {
        control.problems.push(`${FAILURES.learnMidi}: the program sent no press this page can read`);
    }
    renderControl();
}

// ---- What the musician changes ------------------------------------------------------------------------------

const currentMappings = () => app.control.mappings || L.DEFAULT_MAPPINGS;

function changeMappings(mappings) {
    Object.assign(app.control, { mappings, stored: true });
    saveControl({ midiMappings: mappings });
    sendMappings();
}

function learn(target) {
    const control = app.control;
    control.problems = [];
    if (control.learning && control.learning.key === L.targetKey(target)) return cancelLearning();
    // A learn still waiting is cancelled by the program itself.
    control.learning = { key: L.targetKey(target), target, requestId: requestIdFor('learnMidi') };
    post(L.learnMidiRequest(control.learning.requestId));
    renderControl();
}

// True when a learn was waiting.
export function cancelLearning() {
    if (!app.control.learning) return false;
    app.control.learning = null;
    post(L.learnMidiRequest(requestIdFor('learnMidi'), true));
    renderControl();
    return true;
}

function clear(target) {
    app.control.problems = [];
    changeMappings(L.clearBinding(currentMappings(), target));
    renderControl();
}

export function wireControl() {
    $('refreshControl').addEventListener('click', () => {
        app.control.problems = [];
        askStatus();
        renderControl();
    });
    $('restoreMappings').addEventListener('click', () => {
        app.control.problems = [];
        changeMappings(L.DEFAULT_MAPPINGS.map((m) => ({ ...m })));
        renderControl();
    });
    $('midiInput').addEventListener('change', () => {
        app.control.problems = [];
        app.control.input = $('midiInput').value || null;
        saveControl({ midiInput: app.control.input });
        connectInput();
        askStatus();
        renderControl();
    });
    $('learnSection').addEventListener('click', () => {
        const section = Number($('sectionNumber').value);
        if (Number.isInteger(section) && section >= 1) return learn({ action: 'section', section });
        app.control.problems = ['The section to jump to is a whole number from 1.'];
        renderControl();
    });
    renderControl();
}

// ---- Drawing ------------------------------------------------------------------------------------------------

export function renderControl() {
    keepFocus(drawControl);
}

function drawControl() {
    const control = app.control;
    const midi = (control.status && control.status.midi) || {};
    const osc = (control.status && control.status.osc) || {};
    const asking = app.tracker.pendingCount('controlStatus') > 0;
    $('midiStatus').textContent = !nativeAudio() ? 'Foot switches and tablets work only inside CadenzoPlayer.'
        : typeof midi.message === 'string' ? midi.message : asking ? 'Asking the program…' : '—';
    const counts = Number.isInteger(osc.received) ? ` · ${osc.received} received, ${osc.dropped || 0} dropped` : '';
    $('oscStatus').textContent = typeof osc.message === 'string' ? osc.message + counts : '—';
    $('controlProblems').replaceChildren(...control.problems.map((text) =>
        element('li', { className: 'error', text })));

    const listed = Array.isArray(midi.inputs) ? midi.inputs.filter((name) => typeof name === 'string') : null;
    const inputs = [...(listed || [])];
    if (control.input !== null && !inputs.includes(control.input)) inputs.push(control.input);
    // Until the program has listed its inputs, the chosen one is not said to be missing.
    $('midiInput').replaceChildren(element('option', { value: '', text: 'None: the virtual port only' }),
        ...inputs.map((name) => element('option', { value: name,
            text: listed && !listed.includes(name) ? `${name} (not found)` : name })));
    $('midiInput').value = control.input ?? '';

    const noMidi = midi.available === false;
    const rows = L.mappingRows(currentMappings(), control.learning && control.learning.target);
    $('mappingRows').replaceChildren(...rows.map((row) => {
        const learning = control.learning && control.learning.key === row.key;
        return element('tr', { className: learning ? 'learning' : '' }, [
            element('td', { className: 'action', text: row.words }),
            element('td', { className: 'binding', text: learning ? 'Press a pedal…'
                : row.bindings.map(L.bindingWords).join(', ') || L.bindingWords(null) }),
            element('td', { className: 'row-actions' }, [
                element('button', { type: 'button', text: learning ? 'Cancel' : 'Learn', disabled: noMidi && !learning,
                    'aria-label': `Learn the pedal for ${row.words}`, 'data-key': `learn-${row.key}`,
                    onclick: () => learn(row.target) }),
                element('button', { type: 'button', text: 'Clear', disabled: row.bindings.length === 0,
                    'aria-label': `Clear the pedal for ${row.words}`, 'data-key': `clear-${row.key}`,
                    onclick: () => clear(row.target) }),
            ]),
        ]);
    }));
}
