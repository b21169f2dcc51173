// Redrawing the page after a change, keeping the keyboard focus where it was.
import { $, app, nativeAudio, currentDevice, deviceMissing } from './app.js';
import { renderOutputs } from './outputs.js';
import { renderTransport } from './transport.js';
import { renderSetList } from './songs.js';
import { renderEditorFields, renderSectionRows, renderSectionTimes, renderSectionsHint, renderStartOptions, renderSummary, renderProblems } from './editor.js';
import { renderChart } from './chart.js';

export function renderAll(options = {}) {
    keepFocus(() => {
        renderHeader();
        renderSetList();
        if (options.editor) renderEditorFields();
        if (options.editor || options.sections) renderSectionRows();
        renderSectionTimes();
        renderSectionsHint();
        renderStartOptions();
        renderSummary();
        renderChart();
        renderOutputs();
        renderProblems();
        renderTransport();
    });
}

// Rendering replaces controls; the keyboard focus moves to the new control in the same place, so that
// a key pressed next does not land on the page (where Space plays).
export function focusKey(node) {
    return node && node.getAttribute ? node.getAttribute('data-key') || node.getAttribute('aria-label') : null;
}

export function keepFocus(render) {
    const before = document.activeElement;
    const key = focusKey(before);
    render();
    if (!key || document.contains(before)) return;
    const again = [...document.querySelectorAll('[data-key], [aria-label]')].find((node) => focusKey(node) === key);
    if (again) again.focus();
}

export function renderHeader() {
    const pill = $('bridgeState');
    if (nativeAudio()) {
        pill.className = 'pill ok';
        pill.textContent = 'Audio engine connected';
    } else {
        pill.className = 'pill off';
        pill.textContent = 'Browser preview: editing only, no sound';
    }
    const summary = $('deviceSummary');
    const device = currentDevice();
    summary.classList.toggle('missing', deviceMissing());
    const remembered = app.rig.deviceName || app.rig.deviceUid;
    if (device) summary.textContent = `${device.name || device.uid} · ${device.channels} outputs`;
    else if (remembered) summary.textContent = deviceMissing() ? `Not connected: ${remembered}` : remembered;
    else summary.textContent = 'No interface chosen';
}
