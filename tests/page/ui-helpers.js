// Shared by the scenarios run in a web view (page-probe, host_probe): DOM driving, polling, and checks
// collected into window.__probeResult when the scenario ends.
const $ = (id) => document.getElementById(id);
const mock = window.__cadenzoMock;
const failures = [];
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const byLabel = (label) => document.querySelector(`[aria-label="${label}"]`);
const sentOfType = (type) => mock.received.filter((body) => body.type === type);

const check = (condition, message) => Boolean(condition) || (failures.push(message), false);

async function until(condition, message, timeout = 5000) {
    for (const start = performance.now(); performance.now() - start < timeout; await sleep(20))
        if (condition()) return true;
    return check(false, `timed out: ${message}`);
}

function type(id, value) {
    const input = $(id);
    input.focus();
    input.value = value;
    for (const name of ['input', 'change']) input.dispatchEvent(new Event(name, { bubbles: true }));
    input.blur();
}

// A key stroke through the web view's real keyboard path (page-probe sends it, in order), with the default
// actions a browser takes for it. Names are key names: space, Return, Escape, g.
const stroke = (name) => window.webkit.messageHandlers.probeKeys.postMessage(name);

const press = (key, target = document.body) => target.dispatchEvent(
    new KeyboardEvent('keydown', { key, code: key === ' ' ? 'Space' : key, bubbles: true, cancelable: true }));

// JSON text of a value with object keys in order, so that equal data reads the same.
function canonical(value) {
    const sorted = (v) => Array.isArray(v) ? v.map(sorted) : v !== null && typeof v === 'object'
        ? Object.fromEntries(Object.keys(v).sort().map((key) => [key, sorted(v[key])])) : v;
    return JSON.stringify(sorted(value));
}
const sameData = (a, b) => canonical(a) === canonical(b);

// The page's module scripts may still be running when its load is reported.
const loaded = new Promise((resolve) => document.readyState === 'complete' ? resolve()
    : addEventListener('load', resolve, { once: true }));

function run(scenario) {
    loaded.then(scenario).catch((error) => failures.push(`scenario threw: ${error} ${error && error.stack}`)).finally(() => {
        for (const error of window.__pageErrors || []) failures.push(`page error: ${error}`);
        window.__probeResult = { ok: failures.length === 0, failures };
    });
}
