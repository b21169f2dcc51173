import * as L from './logic.js';
import { TIMEOUTS, TYPE_NAMES, $, app, nativeAudio, currentDevice, showAlert, addLog } from './app.js';
import { onDeviceLost, onDevicesListed, onToneResult } from './outputs.js';
import { onPlayResult } from './transport.js';
import { renderAll } from './view.js';
import { onLibraryLoaded, onLibrarySaved } from './store.js';
import { onFileSaved, onExported } from './songs.js';
import { onControlMessage, onControlReply, startControl } from './control-tab.js';

// ---- Messages to and from the audio engine -----------------------------------------------------------------

export function requestIdFor(type) {
    return app.tracker.add(type, performance.now(), TIMEOUTS[type]);
}

export const requestIds = {
    stop: () => requestIdFor('stopSong'),
    play: () => requestIdFor('playSong'),
    mute: () => requestIdFor('setGuideMuted'),
    jump: () => requestIdFor('jumpToSection'),
    vamp: () => requestIdFor('setVamp'),
};

export function describeRequest(request) {
    switch (request.type) {
        case 'testTone':
            return `output ${request.channels[0] + 1} of ${request.channelCount}`;
        case 'playSong':
            return (
                `${request.entries.length} sections, ${request.tempo} bpm, start ${request.startSection}` +
                (request.padKey ? `, pad in ${request.padKey}` : '')
            );
        case 'setGuideMuted':
            return request.muted ? 'cues off' : 'cues on';
        case 'jumpToSection':
            return `to section ${request.section + 1} at the ${request.at === 'bar' ? 'next bar' : 'section end'}`;
        case 'setVamp':
            return request.on ? 'on' : 'off';
        case 'exportSong':
            return request.fileName;
        case 'setMidiMappings':
            return `${request.mappings.length} binding${request.mappings.length === 1 ? '' : 's'}`;
        case 'learnMidi':
            return request.cancel ? 'cancel' : 'waiting for a press';
        case 'connectMidiInput':
            return request.name === null ? 'none' : request.name;
        default:
            return '';
    }
}

export function post(request) {
    const bridge = nativeAudio();
    let problem = bridge ? null : 'there is no audio engine in this window';
    if (bridge) {
        try {
            bridge.postMessage(request);
        } catch (error) {
            problem = `it could not be sent (${error.message})`;
        }
    }
    if (problem === null) {
        if (request.type === 'saveLibrary') return true;
        addLog(
            '→',
            request.type,
            [describeRequest(request), `#${request.requestId.split('-').pop()}`].filter(Boolean).join(' · '),
        );
        return true;
    }
    // Answered here, so that nothing waits for a reply that cannot come.
    handleResult(
        { ok: false, type: request.type, requestId: request.requestId, error: `Not sent: ${problem}.` },
        true,
    );
    return false;
}

export function sendActions(actions, song) {
    for (const action of actions) {
        if (action.type === 'stopSong') post(L.stopSongRequest(action.requestId));
        else if (action.type === 'setGuideMuted') post(L.setGuideMutedRequest(action.requestId, action.muted));
        else if (action.type === 'jumpToSection') post(L.jumpToSectionRequest(action.requestId, action.section, action.at));
        else if (action.type === 'setVamp') post(L.setVampRequest(action.requestId, action.on));
        else if (action.type === 'playSong') {
            app.playingLevels = { ...app.rig.levels };
            post(L.playSongRequest(action.requestId, song, app.rig, currentDevice(), action.guideMuted));
        }
    }
}

export function summarizeResult(result) {
    if (result.ok !== true)
        return `Failed: ${typeof result.error === 'string' ? result.error : '(no reason given)'}`;
    if (Array.isArray(result.devices)) return `OK: ${result.devices.length} interface(s)`;
    if (typeof result.totalDuration === 'number') return `OK: playing, ${result.totalDuration.toFixed(2)} s`;
    if (L.isPress(result.press)) return `OK: ${L.bindingWords(result.press)}`;
    return 'OK';
}

export function handleResult(result, local = false) {
    if (result === null || typeof result !== 'object') {
        addLog('←', '?', `A reply that is not an object: ${String(result)}`, 'error');
        return;
    }
    if (result.type === 'control' && result.requestId === undefined) {
        onControlMessage(result);
        renderAll();
        return;
    }
    if (result.type === 'deviceLost') {
        onDeviceLost(result);
        renderAll();
        return;
    }
    const match = app.tracker.settle(result);
    const request = match.request;
    const type = (request && request.type) || result.type || '?';
    if (match.kind === 'duplicate') {
        addLog('←', type, 'A second reply to the same request: ignored', 'warn');
        return;
    }
    if (match.kind === 'mismatch') {
        addLog('←', type, `A reply of type ${result.type} does not fit its request: ignored`, 'warn');
        return;
    }
    if (match.kind === 'foreign') {
        const failed = result.ok !== true;
        addLog('←', type, `${summarizeResult(result)} (not asked by this page)`, failed ? 'error' : 'warn');
        if (failed) showAlert(L.describeError(result.error));
        return;
    }
    const late = match.kind === 'late' ? ' (after its wait had run out)' : '';
    // Saves go with every change; the log shows the ones that fail.
    const fine = result.ok === true || (type === 'learnMidi' && result.error === 'Learning cancelled');
    if (type !== 'saveLibrary' || result.ok !== true)
        addLog(local ? '!' : '←', type, summarizeResult(result) + late, fine ? '' : 'error');
    switch (request.type) {
        case 'listDevices':
            onDevicesListed(result);
            break;
        case 'testTone':
            onToneResult(result, request, local);
            break;
        case 'playSong':
            onPlayResult(result, request, local);
            break;
        case 'loadLibrary':
            libraryArrived(result);
            break;
        case 'saveLibrary':
            onLibrarySaved(result, request);
            break;
        case 'saveFile':
            onFileSaved(result, local);
            break;
        case 'exportSong':
            onExported(result, request, local);
            break;
        case 'controlStatus':
        case 'setMidiMappings':
        case 'learnMidi':
        case 'connectMidiInput':
            onControlReply(result, request);
            break;
        case 'jumpToSection':
        case 'setVamp':
            app.transport.controlReplied(result);
            if (result.ok !== true) showAlert(errorText(result, local));
            break;
        default:
            // A level change that came just after the song's end changes nothing that matters.
            if (result.ok !== true && !(request.type === 'setLevels' && result.error === 'Nothing is playing'))
                showAlert(errorText(result, local));
    }
    renderAll();
}

// What the pedals and tablets need waits for the library, which holds their mappings.
function libraryArrived(result) {
    onLibraryLoaded(result);
    startControl();
    renderAll({ editor: true });
}

export function errorText(result, local) {
    return local ? result.error : L.describeError(result.error);
}

export function checkTimeouts() {
    for (const request of app.tracker.expire(performance.now())) {
        const name = TYPE_NAMES[request.type] || request.type;
        addLog('!', request.type, `No answer after ${TIMEOUTS[request.type] / 1000} s`, 'error');
        if (request.type === 'playSong') {
            const outcome = app.transport.playTimedOut(request.id, requestIds);
            sendActions(outcome.actions, app.playingSong);
            if (outcome.stopped) {
                showAlert(
                    'The audio engine did not start the song in time. ' +
                        'If it starts late it is stopped; press Play again.',
                );
            }
        } else if (request.type === 'testTone') {
            const channel = app.toneChannels.get(request.id);
            if (app.tone && app.tone.requestId === request.id) app.tone = null;
            showAlert(`No answer to the test tone on output ${channel}. Is the audio engine still running?`);
        } else if (request.type === 'exportSong') {
            onExported({ ok: false, error: `no answer after ${TIMEOUTS.exportSong / 1000} s` }, request, true);
        } else if (request.type === 'loadLibrary') {
            libraryArrived({ ok: false, error: 'no answer from the program' });
        } else if (['controlStatus', 'setMidiMappings', 'connectMidiInput'].includes(request.type)) {
            onControlReply({ ok: false, error: `no answer after ${TIMEOUTS[request.type] / 1000} s` }, request);
        } else {
            showAlert(`No answer from the audio engine (${name}).`);
        }
        renderAll();
    }
}
