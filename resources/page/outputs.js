import * as L from './logic.js';
import { $, app, element, nativeAudio, currentDevice, deviceMissing, setStatus, showAlert, addLog } from './app.js';
import { saveRig, chooseRig } from './store.js';
import { requestIdFor, post, errorText } from './messages.js';
import { sendLevels } from './transport.js';
import { renderAll } from './view.js';

// ---- Devices and the test tone ------------------------------------------------------------------------------

export function listDevices() {
    const requestId = requestIdFor('listDevices');
    post(L.listDevicesRequest(requestId));
    renderOutputs();
}

// Told unasked. The list is kept: Play works again once the interface is back.
export function onDeviceLost(result) {
    const uid = typeof result.deviceUid === 'string' ? result.deviceUid : '';
    const device = (app.devices || []).find((d) => d.uid === uid);
    const name = (device && device.name) || uid || 'the audio interface';
    const stopped = app.transport.deviceLost() ? ' and the song stopped' : '';
    addLog('←', 'deviceLost', `${name} went away`, 'error');
    showAlert(`The audio interface "${name}" went away${stopped}. Reconnect it or restart its audio server, ` +
        'then press Play.');
}

export function onDevicesListed(result) {
    if (result.ok !== true || !Array.isArray(result.devices)) {
        showAlert(
            `The interfaces could not be listed (${result.ok === true ? 'an unreadable list' : result.error}).`,
        );
        return;
    }
    app.devices = result.devices
        .filter((d) => d && typeof d.uid === 'string' && Number.isInteger(d.channels) && d.channels > 0)
        .map((d) => ({
            uid: d.uid,
            name: typeof d.name === 'string' ? d.name : '',
            channels: d.channels,
            isDefault: d.isDefault === true,
            hint: typeof d.hint === 'string' ? d.hint : '',
        }));
    const device = currentDevice();
    if (device) {
        app.rig.deviceName = device.name;
        app.rig.deviceChannels = device.channels;
        saveRig(true);
    } else if (!app.rig.deviceUid) {
        const fallback = app.devices.find((d) => d.isDefault) || (app.devices.length === 1 ? app.devices[0] : null);
        if (fallback) {
            chooseDevice(fallback.uid, true);
            setStatus(`Using ${fallback.name || fallback.uid}. Choose another interface under Outputs.`);
        }
    }
    if (deviceMissing()) {
        showAlert(
            `The audio interface "${app.rig.deviceName || app.rig.deviceUid}" isn't connected. ` +
                'Plug it in and press Refresh list, or choose another under Outputs.',
            'warn',
        );
    }
}

// quiet: the page's own choice of the system default, saved with the musician's next change.
export function chooseDevice(uid, quiet = false) {
    const device = app.devices && app.devices.find((d) => d.uid === uid);
    if (!device) return;
    chooseRig(device);
    app.toneFailed.clear();
    saveRig(quiet);
    renderAll();
}

export function testTone(channel) {
    if (app.tone || !app.rig.deviceUid) return;
    const requestId = requestIdFor('testTone');
    const device = currentDevice();
    const channelCount = device ? device.channels : Math.max(app.rig.deviceChannels, channel);
    app.tone = { channel, requestId };
    app.toneChannels.set(requestId, channel);
    app.toneFailed.delete(channel);
    post(L.testToneRequest(requestId, app.rig.deviceUid, channel, channelCount));
    renderOutputs();
}

export function onToneResult(result, request, local) {
    const channel = app.toneChannels.get(request.id);
    app.toneChannels.delete(request.id);
    if (app.tone && app.tone.requestId === request.id) app.tone = null;
    if (result.ok === true) {
        setStatus(`Output ${channel} played its test tone.`);
    } else {
        app.toneFailed.add(channel);
        showAlert(`Output ${channel}: ${errorText(result, local)}`);
    }
}

export function matrixChannelCount() {
    const device = currentDevice();
    const routed = Math.max(0, ...app.rig.click, ...app.rig.guide, ...app.rig.pad);
    const available = device ? device.channels : app.rig.deviceChannels || 8;
    return { columns: Math.max(available, routed), available };
}

export function renderOutputs() {
    const list = $('devices');
    const cards = [];
    if (app.devices) {
        for (const device of app.devices) {
            const chosen = device.uid === app.rig.deviceUid;
            cards.push(
                element(
                    'button',
                    {
                        type: 'button',
                        className: 'device',
                        role: 'radio',
                        'aria-checked': chosen ? 'true' : 'false',
                        'data-key': `device-${device.uid}`,
                        onclick: () => chooseDevice(device.uid),
                    },
                    [
                        element('span', { className: 'radio', 'aria-hidden': 'true' }),
                        element('span', { className: 'name', text: device.name || '(no name)' }),
                        element('span', {
                            className: 'meta',
                            text: `${device.channels} output${device.channels === 1 ? '' : 's'} · ${device.uid}`,
                        }),
                        device.isDefault
                            ? element('span', { className: 'tag default', text: 'System default' })
                            : null,
                        device.hint ? element('span', { className: 'device-hint', text: device.hint }) : null,
                    ],
                ),
            );
        }
        if (app.devices.length === 0)
            cards.push(element('p', { className: 'muted', text: 'The audio engine found no output interfaces.' }));
    } else {
        cards.push(
            element('p', {
                className: 'muted',
                text: nativeAudio()
                    ? 'Asking the audio engine for its interfaces…'
                    : 'Interfaces are listed only inside CadenzoPlayer.',
            }),
        );
    }
    if (app.rig.deviceUid && !currentDevice()) {
        cards.unshift(
            element(
                'div',
                { className: `device${deviceMissing() ? ' missing' : ''}`, role: 'radio', 'aria-checked': 'true' },
                [
                    element('span', { className: 'radio', 'aria-hidden': 'true' }),
                    element('span', { className: 'name', text: app.rig.deviceName || app.rig.deviceUid }),
                    element('span', {
                        className: 'meta',
                        text: deviceMissing() ? 'Remembered, not connected' : 'Remembered',
                    }),
                    element('span', { className: 'tag', text: `${app.rig.deviceChannels || '?'} outputs` }),
                ],
            ),
        );
    }
    list.replaceChildren(...cards);
    $('refreshDevices').disabled = !nativeAudio() || app.tracker.pendingCount('listDevices') > 0;
    renderMatrix();
    renderLevels();
}

export function renderMatrix() {
    const { columns, available } = matrixChannelCount();
    const used = L.effectiveChannelCount(app.rig, currentDevice()) || available;
    const canTest = Boolean(nativeAudio() && app.rig.deviceUid && !deviceMissing());
    const head = element('tr', {}, [element('th', { scope: 'col', text: '' })]);
    for (let c = 1; c <= columns; c++) {
        const busy = app.tone && app.tone.channel === c;
        head.append(
            element(
                'th',
                { scope: 'col' },
                element('button', {
                    type: 'button',
                    className: `tone${busy ? ' busy' : ''}${app.toneFailed.has(c) ? ' failed' : ''}`,
                    'aria-label': `Test tone on output ${c}`,
                    title: `Test tone on output ${c}`,
                    // Waiting outputs stay focusable, so that the keyboard focus survives a tone.
                    'aria-busy': busy ? 'true' : 'false',
                    'aria-disabled': app.tone && !busy ? 'true' : false,
                    disabled: !canTest || c > available,
                    text: String(c),
                    onclick: () => testTone(c),
                }),
            ),
        );
    }
    const rows = [
        ['click', 'Click'],
        ['guide', 'Cues'],
        ['pad', 'Pad'],
    ].map(([key, name]) => {
        const row = element('tr', {}, element('th', { scope: 'row', text: name }));
        for (let c = 1; c <= columns; c++) {
            const box = element('input', {
                type: 'checkbox',
                'aria-label': `${name} on output ${c}`,
                checked: app.rig[key].includes(c),
            });
            box.addEventListener('change', () => {
                const set = new Set(app.rig[key]);
                if (box.checked) set.add(c);
                else set.delete(c);
                app.rig[key] = [...set].sort((a, b) => a - b);
                saveRig();
                renderAll();
            });
            row.append(element('td', { className: c > used ? 'beyond' : '' }, box));
        }
        return row;
    });
    $('matrix').replaceChildren(element('thead', {}, head), element('tbody', {}, rows));
    $('toneStatus').textContent = app.tone
        ? `Output ${app.tone.channel}: test tone playing…`
        : canTest
          ? ''
          : nativeAudio()
            ? 'Choose a connected interface to test its outputs.'
            : '';
}

// ---- Levels ----------------------------------------------------------------------------------------------

const SOURCES = ['click', 'guide', 'pad'];
// The slider's step below the lowest level is "off".
const sliderValue = (db) => (db < L.LEVELS.min ? L.LEVELS.min - 1 : db);

export function levelText(db) {
    if (db < L.LEVELS.min) return 'off';
    return `${db > 0 ? '+' : db < 0 ? '−' : ''}${Math.abs(db)} dB`;
}

export function wireLevels() {
    for (const name of SOURCES) {
        const slider = $(`level-${name}`);
        slider.addEventListener('input', () => {
            const value = Number(slider.value);
            // A new object: the stored routing of another interface may hold the one in use.
            app.rig.levels = { ...app.rig.levels, [name]: value < L.LEVELS.min ? L.LEVELS.off : value };
            $(`level-${name}-text`).textContent = levelText(app.rig.levels[name]);
            saveRig();
            sendLevels();
        });
    }
}

export function renderLevels() {
    for (const name of SOURCES) {
        $(`level-${name}`).value = String(sliderValue(app.rig.levels[name]));
        $(`level-${name}-text`).textContent = levelText(app.rig.levels[name]);
    }
}
