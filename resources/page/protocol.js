import { toZeroBased } from './sections.js';
import { chartSymbols } from './chords.js';
import { effectiveChannelCount } from './checks.js';
import { sectionForFile } from './setlist.js';

// ---- Requests ------------------------------------------------------------------------------------------

export function listDevicesRequest(requestId) {
    return { type: 'listDevices', requestId };
}

// Asking for every channel of the device lets any of them carry the tone.
export function testToneRequest(requestId, deviceUid, channel, channelCount) {
    return { type: 'testTone', requestId, deviceUid, channels: [channel - 1], channelCount };
}

// `guideMuted`: the cues start muted, so that not one of them sounds.
export function playSongRequest(requestId, song, rig, device, guideMuted = false) {
    const request = {
        type: 'playSong',
        requestId,
        deviceUid: rig.deviceUid,
        title: song.title,
        entries: song.sections.map(sectionForFile),
        click: toZeroBased(rig.click),
        guide: toZeroBased(rig.guide),
        pad: toZeroBased(rig.pad),
        tempo: song.tempo,
        beatsPerBar: song.beatsPerBar,
        countInBars: song.countInBars,
        startSection: song.startSection,
        guideMuted: Boolean(guideMuted),
        levels: { ...rig.levels },
    };
    const total = effectiveChannelCount(rig, device);
    if (total >= 1) request.totalChannels = total;
    if (song.padKey !== '') {
        request.padKey = song.padKey;
        const symbols = chartSymbols(song.chart || '');
        if (symbols) request.padChords = symbols;
    }
    return request;
}

export function setLevelsRequest(requestId, levels) {
    return { type: 'setLevels', requestId, levels: { ...levels } };
}

// A song rendered to a WAV file: the whole song, cues audible, whatever start section it rehearses from.
export function exportSongRequest(requestId, song, rig, fileName) {
    const { deviceUid, guideMuted, ...fields } = playSongRequest(requestId, { ...song, startSection: 0 }, rig, null);
    return { ...fields, type: 'exportSong', fileName };
}

// A song title as a file name the program takes: no slash or control character, no leading dot, at most
// 200 bytes of UTF-8 with ".wav".
export function exportFileName(title) {
    const cleaned = String(title).replace(/[\u0000-\u001f\u007f]+/g, ' ').replaceAll('/', '-').replace(/^[\s.]+/, '')
        .trim() || 'Untitled';
    let name = '';
    for (const character of cleaned) {
        if (new TextEncoder().encode(`${name}${character}.wav`).length > 200) break;
        name += character;
    }
    return `${name.trimEnd()}.wav`;
}

// Section counted from 0; `at` is "bar" (the next bar line) or "section" (the end of the one playing).
export function jumpToSectionRequest(requestId, section, at) {
    return { type: 'jumpToSection', requestId, section, at };
}

export function setVampRequest(requestId, on) {
    return { type: 'setVamp', requestId, on: Boolean(on) };
}

export function loadLibraryRequest(requestId) {
    return { type: 'loadLibrary', requestId };
}

export function saveLibraryRequest(requestId, library) {
    return { type: 'saveLibrary', requestId, library };
}

// The program chooses the folder, and another name when this one is taken.
export function saveFileRequest(requestId, fileName, text) {
    return { type: 'saveFile', requestId, fileName, text };
}

export function stopSongRequest(requestId) {
    return { type: 'stopSong', requestId };
}

export function setGuideMutedRequest(requestId, muted) {
    return { type: 'setGuideMuted', requestId, muted: Boolean(muted) };
}

// Hands-free control. A learn is answered by the next press, or by its cancel.
export function controlStatusRequest(requestId) {
    return { type: 'controlStatus', requestId };
}

export function setMidiMappingsRequest(requestId, mappings) {
    return { type: 'setMidiMappings', requestId, mappings };
}

export function learnMidiRequest(requestId, cancel = false) {
    return cancel ? { type: 'learnMidi', requestId, cancel: true } : { type: 'learnMidi', requestId };
}

export function connectMidiInputRequest(requestId, name) {
    return { type: 'connectMidiInput', requestId, name };
}

// ---- Replies --------------------------------------------------------------------------------------------

// Matches every reply to the request it answers; a reply is handled once, whatever order it comes in.
export function createRequestTracker(prefix, remember = 500) {
    let counter = 0;
    const pending = new Map();
    const settled = new Map();
    const forget = () => {
        while (settled.size > remember) settled.delete(settled.keys().next().value);
    };
    return {
        add(type, now, timeout) {
            counter += 1;
            const id = `${prefix}-${counter}`;
            pending.set(id, { id, type, sentAt: now, deadline: timeout ? now + timeout : Infinity });
            return id;
        },
        // kind: reply | late (its wait had run out) | duplicate | mismatch (other type) | foreign
        settle(result) {
            const id = result && typeof result === 'object' ? result.requestId : undefined;
            const request = pending.get(id);
            const typeFits = (r) => result.type === undefined || result.type === r.type;
            if (request) {
                if (!typeFits(request)) return { kind: 'mismatch', request };
                pending.delete(id);
                settled.set(id, { ...request, status: 'answered' });
                forget();
                return { kind: 'reply', request };
            }
            const earlier = id === undefined ? undefined : settled.get(id);
            if (earlier && earlier.status === 'timedOut' && typeFits(earlier)) {
                settled.set(id, { ...earlier, status: 'answered' });
                return { kind: 'late', request: earlier };
            }
            if (earlier) return { kind: typeFits(earlier) ? 'duplicate' : 'mismatch', request: earlier };
            return { kind: 'foreign', request: null };
        },
        expire(now) {
            const expired = [];
            for (const request of pending.values()) {
                if (request.deadline <= now) expired.push(request);
            }
            for (const request of expired) {
                pending.delete(request.id);
                settled.set(request.id, { ...request, status: 'timedOut' });
            }
            forget();
            return expired;
        },
        pendingCount(type) {
            let n = 0;
            for (const request of pending.values()) if (!type || request.type === type) n += 1;
            return n;
        },
    };
}

export const ERROR_WORDS = [
    [/^No matching device$/, "The audio interface isn't connected"],
    [/^Missing entries$/, 'The song has no sections to play'],
    [/^Malformed message$/, 'The audio engine could not read a message from this page'],
    [/^Unknown message type: /, 'The audio engine does not know this command'],
    [/^No underlying AudioUnit$/, 'The audio interface cannot be driven'],
    [
        /^(setSinkId equivalent failed|Couldn't select device): /,
        'The audio interface could not be selected; is it busy or unplugged?',
    ],
    [/^Could(?: not|n't) build -?\d+-channel layout$/, 'The interface cannot play that many outputs'],
    [/^Could not allocate buffer$/, 'Not enough memory for the test tone'],
    [/^Could not open output device /, 'The audio interface could not be opened; is another program using it?'],
    [/^No audio device layer is available$/, 'No sound system is running on this computer'],
    [/^No output device is available$/, 'No output is available on the audio interface'],
    [/^Unsupported output format/, 'The interface does not accept this number of outputs'],
];

// A musician's sentence with the program's own text beside it.
export function describeError(text) {
    const raw = typeof text === 'string' && text.length > 0 ? text : 'no reason given';
    const found = ERROR_WORDS.find(([pattern]) => pattern.test(raw));
    const words = found ? found[1] : 'The audio engine reported a problem';
    return `${words} (${raw})`;
}
