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

export function playSongRequest(requestId, song, rig, device) {
    const request = {
        type: 'playSong',
        requestId,
        deviceUid: rig.deviceUid,
        entries: song.sections.map(sectionForFile),
        click: toZeroBased(rig.click),
        guide: toZeroBased(rig.guide),
        pad: toZeroBased(rig.pad),
        tempo: song.tempo,
        beatsPerBar: song.beatsPerBar,
        countInBars: song.countInBars,
        startSection: song.startSection,
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
