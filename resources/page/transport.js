import * as L from './logic.js';
import { $, app, element, nativeAudio, selectedSong, currentDevice, deviceMissing, setStatus, showAlert, hideAlert, addLog } from './app.js';
import { saveSongs, store } from './store.js';
import { requestIds, requestIdFor, post, sendActions, errorText } from './messages.js';
import { songMeta } from './songs.js';
import { fieldProblems } from './editor.js';
import { renderAll } from './view.js';

// ---- Transport ---------------------------------------------------------------------------------------------

export function outputProblems() {
    const list = L.routingProblems(app.rig, currentDevice());
    if (deviceMissing()) {
        list.unshift({
            level: 'error',
            text:
                `"${app.rig.deviceName || app.rig.deviceUid}" isn't connected. ` +
                'Refresh the list or choose another interface.',
        });
    }
    return list;
}

export function blockingProblems(song) {
    return [...fieldProblems(), ...L.songProblems(song), ...outputProblems()].filter((p) => p.level === 'error');
}

export function startSong(song = selectedSong()) {
    if (!song) return;
    // Nothing to play before the library has arrived.
    if (store.mode === 'loading') return;
    if (!nativeAudio()) {
        showAlert(
            'This window has no audio engine: the page is open in an ordinary browser. ' +
                'Songs can be edited and saved here.',
            'warn',
        );
        return;
    }
    const problems = blockingProblems(song);
    if (problems.length > 0) {
        showAlert(`Can't play yet: ${problems[0].text}`);
        return;
    }
    if (app.transport.state.phase !== 'stopped') return;
    app.playingSong = { ...song, sections: song.sections.map((s) => ({ ...s })) };
    const actions = app.transport.play(requestIds, performance.now(), L.planPlayback(song), song.id);
    hideAlert();
    sendActions(actions, app.playingSong);
    renderAll();
}

export function stopSong() {
    // Without the engine nothing can be sounding.
    if (!nativeAudio() && app.transport.state.phase === 'stopped') return;
    sendActions(app.transport.stop(requestIds));
    renderAll();
}

export function togglePlay() {
    if (app.transport.state.phase === 'stopped') startSong();
    else stopSong();
}

export function onPlayResult(result, request, local) {
    const state = app.transport.state;
    const wanted = state.phase === 'starting' && state.playId === request.id;
    sendActions(app.transport.playReplied(result, performance.now(), requestIds), app.playingSong);
    if (wanted && result.ok === true) {
        const planned = state.plan.totalDuration;
        if (Math.abs(planned - state.totalDuration) > 0.05) {
            addLog(
                '!',
                'playSong',
                `The engine plays ${state.totalDuration.toFixed(2)} s; this page expected ${planned.toFixed(2)} s`,
                'warn',
            );
        }
        setStatus(`Playing "${app.playingSong.title}".`);
        // Moved while the song was starting.
        if (JSON.stringify(app.playingLevels) !== JSON.stringify(app.rig.levels)) sendLevels();
    } else if (wanted) {
        showAlert(`The song didn't start: ${errorText(result, local)}`);
    } else if (result.ok === true) {
        setStatus('A song that started after Stop was stopped again.');
    }
}

// Levels follow a dragged slider at most ten times a second; the last position always goes.
const LEVELS_INTERVAL_MS = 100;
let levelsTimer = null;
let levelsSentAt = -Infinity;

export function sendLevels() {
    if (app.transport.state.phase !== 'playing' || levelsTimer !== null) return;
    const wait = levelsSentAt + LEVELS_INTERVAL_MS - performance.now();
    if (wait > 0) {
        levelsTimer = setTimeout(() => {
            levelsTimer = null;
            sendLevels();
        }, wait);
        return;
    }
    levelsSentAt = performance.now();
    post(L.setLevelsRequest(requestIdFor('setLevels'), app.rig.levels));
}

export function toggleGuide() {
    setGuideMuted(!app.transport.state.guideMuted);
}

export function setGuideMuted(muted) {
    // Without the engine the choice is only remembered for the next song.
    const ids = nativeAudio() ? requestIds : { mute: () => null };
    const actions = app.transport.setGuideMuted(muted, ids);
    if (nativeAudio()) sendActions(actions);
    setStatus(muted ? 'Spoken cues are off.' : 'Spoken cues are on.');
    renderTransport();
}

// Stopped, a section clicked is where Play starts; playing, the song goes there at the next bar line, or with
// Shift at the end of the section playing, and the start section stays as it is.
export function sectionClicked(sectionIndex, atSectionEnd) {
    const phase = app.transport.state.phase;
    if (phase === 'playing') {
        const at = atSectionEnd ? 'section' : 'bar';
        sendActions(app.transport.jump(requestIds, performance.now(), sectionIndex, at));
        const name = L.sectionName(app.playingSong.sections[sectionIndex].label, sectionIndex);
        setStatus(`To ${name} ${atSectionEnd ? 'when this section ends' : 'at the next bar'}.`);
        return;
    }
    const song = selectedSong();
    if (phase !== 'stopped' || !song) return;
    song.startSection = sectionIndex;
    saveSongs();
    renderAll();
}

export function toggleVamp() {
    const state = app.transport.state;
    if (state.phase !== 'playing') {
        setStatus('Vamp repeats the section playing: start a song first.');
        return;
    }
    setVamp(!state.vamp);
}

export function setVamp(on) {
    sendActions(app.transport.setVamp(requestIds, performance.now(), on));
}

export function tick() {
    if (app.transport.tick(performance.now())) {
        setStatus(`"${app.playingSong ? app.playingSong.title : 'The song'}" has ended.`);
        renderAll();
    } else if (app.transport.state.phase === 'playing') {
        renderPosition(false);
    }
    window.requestAnimationFrame(tick);
}

export function renderTransport() {
    const state = app.transport.state;
    const phase = state.phase;
    $('transport').dataset.phase = phase;
    const button = $('playButton');
    button.classList.toggle('stop', phase === 'playing');
    button.classList.toggle('starting', phase === 'starting');
    button.querySelector('.icon').textContent = phase === 'stopped' ? '▶' : '■';
    $('playLabel').textContent = phase === 'stopped' ? 'Play' : phase === 'starting' ? 'Cancel' : 'Stop';
    const song = selectedSong();
    const blocked = phase === 'stopped' && (!nativeAudio() || (song && blockingProblems(song).length > 0));
    button.setAttribute('aria-disabled', blocked ? 'true' : 'false');
    button.title = blocked
        ? nativeAudio()
            ? `Can't play: ${blockingProblems(song)[0].text}`
            : 'No audio engine in this window'
        : '';
    $('stateLabel').textContent =
        phase === 'playing' ? 'Playing' : phase === 'starting' ? 'Starting…' : state.ended ? 'Ended' : 'Stopped';
    const shown = phase === 'stopped' ? song : app.playingSong;
    $('nowSong').textContent = shown ? shown.title || 'Untitled' : '—';
    $('nowMeta').textContent = shown ? songMeta(shown) : '';
    $('guideButton').setAttribute('aria-pressed', state.guideMuted ? 'true' : 'false');
    $('guideState').textContent = state.guideMuted ? 'Off' : 'On';
    const vamping = phase === 'playing' && state.vamp;
    $('vampButton').setAttribute('aria-pressed', vamping ? 'true' : 'false');
    $('vampState').textContent = vamping ? 'On' : 'Off';
    renderStrip();
    renderPosition();
}

export function shownSong() {
    return app.transport.state.phase !== 'stopped' && app.playingSong ? app.playingSong : selectedSong();
}

export function shownPlan() {
    const state = app.transport.state;
    if (state.phase !== 'stopped' && state.plan) return state.plan;
    const song = selectedSong();
    return song ? L.planPlayback(song) : null;
}

// The whole song with its count-in; what a start section leaves out is dimmed.
export function renderStrip() {
    const plan = shownPlan();
    const song = shownSong();
    const layout = song ? L.layoutSong(song) : null;
    const strip = $('sectionStrip');
    if (!plan || !layout) {
        strip.replaceChildren();
        return;
    }
    const blocks = [];
    if (layout.countInBars > 0) {
        blocks.push(
            element(
                'button',
                {
                    type: 'button',
                    className: `count${plan.cut ? ' skipped' : ''}`,
                    style: `flex-grow: ${layout.countInBars}`,
                    title: 'Count-in: start from the beginning',
                    'aria-label': 'Start from the beginning, with the count-in',
                    dataset: { section: '-1' },
                    onclick: (event) => sectionClicked(0, event.shiftKey),
                },
                [element('span', { className: 'fill' }), element('span', { className: 'text', text: 'Count' })],
            ),
        );
    }
    for (const section of layout.sections) {
        const classes = [];
        if (plan.cut && section.index === plan.startSection) classes.push('start');
        if (plan.cut && section.index < plan.startSection - 1) classes.push('skipped');
        const name = L.sectionName(section.label, section.index);
        blocks.push(
            element(
                'button',
                {
                    type: 'button',
                    className: classes.join(' '),
                    style: `flex-grow: ${section.bars}`,
                    title: `${name}: ${section.bars} bar${section.bars === 1 ? '' : 's'}. Click to start here; while playing, to go ` +
                        'there at the next bar (Shift: when the section ends).',
                    'aria-label': `Start at ${name}`,
                    'data-key': `strip-${section.index}`,
                    dataset: { section: String(section.index) },
                    onclick: (event) => sectionClicked(section.index, event.shiftKey),
                },
                [element('span', { className: 'fill' }), element('span', { className: 'text', text: name })],
            ),
        );
    }
    strip.replaceChildren(...blocks);
}

let lastShownPosition = '';

export function renderPosition(force = true) {
    const state = app.transport.state;
    const plan = shownPlan();
    const dots = $('beatDots');
    if (!plan) {
        $('elapsed').textContent = '0:00';
        $('total').textContent = '0:00';
        $('posTitle').textContent = '—';
        $('posDetail').textContent = '';
        $('posNext').textContent = '';
        dots.replaceChildren();
        return;
    }
    if (state.phase !== 'playing') {
        // Where Play will begin.
        const first = L.positionAt(plan, 0);
        const text = L.positionText(first);
        $('elapsed').textContent = '0:00';
        $('total').textContent = L.formatClock(plan.totalDuration);
        $('posTitle').textContent = text.title;
        $('posDetail').textContent =
            first.phase === 'countIn'
                ? `${plan.effectiveCountIn} bar${plan.effectiveCountIn === 1 ? '' : 's'}`
                : text.detail;
        const leadsIn = first.phase === 'countIn' || plan.cut;
        const then =
            !leadsIn || first.nextLabel === null || first.nextLabel === undefined
                ? ''
                : `Then ${L.sectionName(first.nextLabel, first.phase === 'countIn' ? 0 : first.sectionIndex + 1)}`;
        $('posNext').textContent = state.phase === 'starting' ? 'Getting ready…' : then;
        dots.replaceChildren();
        for (const button of $('sectionStrip').querySelectorAll('button')) {
            button.classList.remove('current');
            const fill = button.querySelector('.fill');
            if (fill) fill.style.width = '0';
        }
        for (const cell of $('chartGrid').querySelectorAll('.bar-cell.current')) cell.classList.remove('current');
        return;
    }
    const elapsed = app.transport.elapsed(performance.now());
    const endsAt = app.transport.endsAt();
    const position = L.positionAt(plan, elapsed, endsAt, app.transport.songTime(elapsed));
    // Every frame asks; the page changes only when the beat or the second does.
    const shownAt = [position.phase, position.songBar, position.countInBar, position.beat, Math.floor(elapsed), endsAt];
    if (!force && shownAt.join() === lastShownPosition) return;
    lastShownPosition = shownAt.join();
    const text = L.positionText(position);
    $('elapsed').textContent = L.formatClock(elapsed);
    $('total').textContent = Number.isFinite(endsAt) ? L.formatClock(endsAt) : 'vamp';
    $('posTitle').textContent = text.title;
    $('posDetail').textContent = text.detail;
    const nextIndex = position.phase === 'countIn' ? 0 : position.sectionIndex + 1;
    $('posNext').textContent =
        position.phase !== 'ended' && typeof position.nextLabel === 'string'
            ? `Next: ${L.sectionName(position.nextLabel, nextIndex)}`
            : '';
    dots.classList.toggle('many', position.beatsPerBar > 8);
    if (dots.childElementCount !== position.beatsPerBar) {
        dots.replaceChildren(
            ...Array.from({ length: position.beatsPerBar }, (_, i) =>
                element('i', { className: i === 0 ? 'first' : '' }),
            ),
        );
    }
    [...dots.children].forEach((dot, i) =>
        dot.classList.toggle('on', position.phase !== 'ended' && i < position.beat),
    );
    for (const button of $('sectionStrip').querySelectorAll('button')) {
        const index = Number(button.dataset.section);
        const current =
            position.phase === 'section'
                ? index === position.sectionIndex
                : position.phase === 'countIn' && index === -1;
        button.classList.toggle('current', current);
        const fill = button.querySelector('.fill');
        const bar = position.phase === 'countIn' ? position.countInBar : position.barInSection;
        const bars = position.phase === 'countIn' ? position.countInBars : position.sectionBars;
        if (fill)
            fill.style.width = current
                ? `${(100 * (bar - 1 + (position.beat - 1) / position.beatsPerBar)) / bars}%`
                : '0';
    }
    for (const cell of $('chartGrid').querySelectorAll('.bar-cell')) {
        cell.classList.toggle(
            'current',
            position.phase === 'section' &&
                state.songId === app.selectedId &&
                Number(cell.dataset.bar) === position.songBar - 1,
        );
    }
}
