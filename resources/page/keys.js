import { $, app, nativeAudio, setStatus } from './app.js';
import { stopSong, togglePlay, toggleGuide, toggleVamp } from './transport.js';
import { selectRelative } from './songs.js';
import { tap } from './editor.js';
import { cancelLearning } from './control-tab.js';

// ---- Tabs and keys --------------------------------------------------------------------------------------

export const TABS = ['song', 'pad', 'outputs', 'control', 'log'];

export function showTab(name) {
    app.activeTab = name;
    for (const tab of TABS) {
        const selected = tab === name;
        $(`tab-${tab}`).setAttribute('aria-selected', selected ? 'true' : 'false');
        $(`tab-${tab}`).tabIndex = selected ? 0 : -1;
        $(`panel-${tab}`).hidden = !selected;
    }
    if (name === 'log') {
        app.unseenLogErrors = 0;
        $('badge-log').hidden = true;
    }
}

// Fields that take typed characters. A closed select, a checkbox or a button does not: the stage keys work
// there. An open select has the keyboard to itself, so its keys never reach the page.
const TYPING_INPUTS = new Set(['text', 'number', 'search', 'email', 'url', 'tel', 'password']);

export function isTypingTarget(target) {
    if (!target || !target.tagName) return false;
    if (target.isContentEditable) return true;
    const tag = target.tagName.toLowerCase();
    return tag === 'textarea' || (tag === 'input' && TYPING_INPUTS.has(target.type));
}

export function onKeyDown(event) {
    if (event.defaultPrevented || event.altKey || event.ctrlKey || event.metaKey) return;
    if ($('transfer').open) return;
    if (event.key === 'Escape') {
        // A pedal being learned is what Escape ends first.
        if (!nativeAudio() || cancelLearning()) return;
        stopSong();
        setStatus('Stopped everything.');
        return;
    }
    if (isTypingTarget(event.target)) {
        // Enter keeps the value and hands the keyboard back to the stage keys.
        if (event.key === 'Enter' && event.target.tagName.toLowerCase() === 'input') event.target.blur();
        return;
    }
    if (event.key === ' ' || event.code === 'Space') {
        event.preventDefault();
        if (!event.repeat) togglePlay();
    } else if (event.key === 'g' || event.key === 'G') {
        // Not also a jump to an option beginning with G in a focused select.
        event.preventDefault();
        toggleGuide();
    } else if (event.key === 'v' || event.key === 'V') {
        event.preventDefault();
        toggleVamp();
    } else if (event.key === 't' || event.key === 'T') {
        event.preventDefault();
        tap();
    } else if (event.key === 'PageDown' || event.key === 'PageUp') {
        event.preventDefault();
        selectRelative(event.key === 'PageDown' ? 1 : -1);
    }
}

export function onTabKey(event) {
    const index = TABS.indexOf(app.activeTab);
    let next = null;
    if (event.key === 'ArrowRight') next = TABS[(index + 1) % TABS.length];
    if (event.key === 'ArrowLeft') next = TABS[(index + TABS.length - 1) % TABS.length];
    if (next) {
        event.preventDefault();
        showTab(next);
        $(`tab-${next}`).focus();
    }
}
