// Shared by the page scenarios run in page-probe: DOM driving, polling, and checks that are
// collected into window.__probeResult when the scenario ends.
const $ = (id) => document.getElementById(id);
const mock = window.__cadenzoMock;
const failures = [];
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function check(condition, message) {
    if (!condition) failures.push(message);
    return Boolean(condition);
}

async function until(condition, message, timeout = 5000) {
    const start = performance.now();
    while (performance.now() - start < timeout) {
        if (condition()) return true;
        await sleep(20);
    }
    failures.push(`timed out: ${message}`);
    return false;
}

function type(target, value) {
    const input = typeof target === 'string' ? $(target) : target;
    input.focus();
    input.value = value;
    input.dispatchEvent(new Event('input', { bubbles: true }));
    input.dispatchEvent(new Event('change', { bubbles: true }));
    input.blur();
}

// A key stroke through the real keyboard path of the web view (page-probe sends it), with the default
// actions a browser takes for it. Names are key names: space, Return, Escape, g.
async function stroke(name) {
    window.webkit.messageHandlers.probeKeys.postMessage(name);
    await sleep(60);
}

function press(key, target = document.body) {
    target.dispatchEvent(
        new KeyboardEvent('keydown', { key, code: key === ' ' ? 'Space' : key, bubbles: true, cancelable: true }),
    );
}

// Equal JSON data, whatever the order of object keys.
function sameData(a, b) {
    const canonical = (value) =>
        Array.isArray(value)
            ? value.map(canonical)
            : value !== null && typeof value === 'object'
              ? Object.fromEntries(
                    Object.keys(value)
                        .sort()
                        .map((key) => [key, canonical(value[key])]),
                )
              : value;
    return JSON.stringify(canonical(a)) === JSON.stringify(canonical(b));
}

function byLabel(label) {
    return document.querySelector(`[aria-label="${label}"]`);
}

function sentOfType(type) {
    return mock.received.filter((body) => body.type === type);
}

function logText() {
    return $('log').textContent;
}

function run(scenario) {
    scenario().then(
        () => {
            const errors = window.__pageErrors || [];
            for (const error of errors) failures.push(`page error: ${error}`);
            window.__probeResult = { ok: failures.length === 0, failures };
        },
        (error) => {
            failures.push(`scenario threw: ${error} ${error && error.stack ? error.stack : ''}`);
            window.__probeResult = { ok: false, failures };
        },
    );
}
