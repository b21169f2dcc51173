import * as L from './logic.js';
import { TIMEOUTS, TYPE_NAMES, $, app, nativeAudio, currentDevice, showAlert, addLog } from './app.js';
import { onDeviceLost, onDevicesListed, onToneResult } from './outputs.js';
import { onPlayResult } from './transport.js';
import { renderAll } from './view.js';
import { onLibraryLoaded, onLibrarySaved } from './store.js';
import { onFileSaved } from './songs.js';

// ---- Messages to and from the audio engine -----------------------------------------------------------------

export function requestIdFor(type) {
    return app.tracker.add(type, performance.now(), TIMEOUTS[type]);
}

export const requestIds = {
    stop: () => requestIdFor('stopSong'),
    play: () => requestIdFor('playSong'),
    mute: () => requestIdFor('setGuideMuted'),
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
        else if (action.type === 'playSong')
            post(L.playSongRequest(action.requestId, song, app.rig, currentDevice()));
    }
}

export function summarizeResult(result) {
    if (result.ok !== true)
        return `Failed: ${typeof result.error === 'string' ? result.error : '(no reason given)'}`;
    if (Array.isArray(result.devices)) return `OK: ${result.devices.length} interface(s)`;
    if (typeof result.totalDuration === 'number') return `OK: playing, ${result.totalDuration.toFixed(2)} s`;
    return 'OK';
}

export function handleResult(result, local = false) {
    if (result === null || typeof result !== 'object') {
        addLog('←', '?', `A reply that is not an object: ${String(result)}`, 'error');
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
    if (type !== 'saveLibrary' || result.ok !== true)
        addLog(local ? '!' : '←', type, summarizeResult(result) + late, result.ok === true ? '' : 'error');
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
            onLibraryLoaded(result);
            renderAll({ editor: true });
            break;
        case 'saveLibrary':
            onLibrarySaved(result, request);
            break;
        case 'saveFile':
            onFileSaved(result, local);
            break;
        default:
            if (result.ok !== true) showAlert(errorText(result, local));
    }
    renderAll();
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
        } else if (request.type === 'loadLibrary') {
            onLibraryLoaded({ ok: false, error: 'no answer from the program' });
            renderAll({ editor: true });
        } else {
            showAlert(`No answer from the audio engine (${name}).`);
        }
        renderAll();
    }
}
