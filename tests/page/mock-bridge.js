// A stand-in for the native audio bridge, for looking at the control page and testing it without audio
// hardware. page-probe injects it before the page's own scripts and hands it every message the page posts
// to `nativeAudio`; in an ordinary browser it installs its own `window.webkit.messageHandlers.nativeAudio`.
// It answers the way the program does: one result per request, `requestId` echoed, listDevices at once,
// testTone about 1.5 s later, playSong once the song has started, with the program's error texts.
//
// Scenarios steer it through window.__cadenzoMock: `options` (delays, failures, devices), `received`
// (every request body, in order) and `deliver(result)` (a result the page did not ask for).
(function () {
    'use strict';

    const options = {
        devices: [
            { uid: 'alsa:hw:CARD=USB,DEV=0', name: 'Scarlett 18i20 USB', channels: 18, isDefault: false },
            { uid: 'pulse:default', name: 'Built-in Audio Analog Stereo', channels: 2, isDefault: true },
            { uid: 'jack:system', name: 'system', channels: 8, isDefault: false },
        ],
        listDelay: 0,
        toneDelay: 1500,
        playDelay: 120,
        toneError: null, // for example "setSinkId equivalent failed: -10851"
        playError: null, // for example "Couldn't select device: -50"
        silent: new Set(), // request types that never get an answer
    };
    const received = [];

    function deliver(result) {
        // The same delivery script the program runs in the page.
        const script = `(window.onNativeAudioResult || console.log)(${JSON.stringify(result)})`;
        (0, eval)(script);
    }

    function answer(body, result, delay) {
        if ('requestId' in body) result.requestId = body.requestId;
        if (options.silent.has(body.type)) return;
        setTimeout(() => deliver(result), delay);
    }

    function isInteger(value) {
        return typeof value === 'number' && Number.isInteger(value);
    }

    function resolveDevice(body) {
        const byUid = typeof body.deviceUid === 'string' && options.devices.find((d) => d.uid === body.deviceUid);
        if (byUid) return byUid;
        if (typeof body.deviceNameContains === 'string' && body.deviceNameContains !== '') {
            return options.devices.find((d) => d.name.includes(body.deviceNameContains)) || null;
        }
        return null;
    }

    // Song length as the player computes it: whole song, or from one bar before the start section.
    function songLength(body) {
        const tempo = typeof body.tempo === 'number' ? body.tempo : 120;
        const beats = isInteger(body.beatsPerBar) ? body.beatsPerBar : 4;
        const entries = body.entries.filter((e) => typeof e.label === 'string' && isInteger(e.bars));
        const start = isInteger(body.startSection) ? body.startSection : 0;
        const cut = start >= 1 && start < entries.length;
        const countIn = cut ? 0 : isInteger(body.countInBars) ? body.countInBars : 2;
        const bar = (60 / tempo) * beats;
        let t = countIn * bar;
        let offset = 0;
        entries.forEach((entry, i) => {
            if (cut && i === start) offset = Math.max(0, t - bar);
            t += Math.max(entry.bars, 1) * bar;
        });
        return t - offset;
    }

    function receive(body) {
        received.push(body);
        if (body === null || typeof body !== 'object' || Array.isArray(body) || typeof body.type !== 'string') {
            setTimeout(() => deliver({ ok: false, error: 'Malformed message' }), 0);
            return;
        }
        switch (body.type) {
            case 'listDevices':
                answer(
                    body,
                    { ok: true, type: 'listDevices', devices: options.devices.map((d) => ({ ...d })) },
                    options.listDelay,
                );
                break;
            case 'testTone':
                if (!resolveDevice(body)) answer(body, { ok: false, type: 'testTone', error: 'No matching device' }, 0);
                else if (options.toneError) answer(body, { ok: false, type: 'testTone', error: options.toneError }, 0);
                else answer(body, { ok: true, type: 'testTone' }, options.toneDelay);
                break;
            case 'playSong':
                if (!resolveDevice(body)) answer(body, { ok: false, type: 'playSong', error: 'No matching device' }, 0);
                else if (
                    !Array.isArray(body.entries) ||
                    body.entries.some((e) => e === null || typeof e !== 'object')
                ) {
                    answer(body, { ok: false, type: 'playSong', error: 'Missing entries' }, 0);
                } else if (options.playError) {
                    answer(body, { ok: false, type: 'playSong', error: options.playError }, options.playDelay);
                } else {
                    answer(body, { ok: true, type: 'playSong', totalDuration: songLength(body) }, options.playDelay);
                }
                break;
            case 'stopSong':
                answer(body, { ok: true, type: 'stopSong' }, 0);
                break;
            case 'setGuideMuted':
                answer(body, { ok: true, type: 'setGuideMuted' }, 0);
                break;
            default: {
                const result = { ok: false, error: `Unknown message type: ${body.type}` };
                answer(body, result, 0);
            }
        }
    }

    window.__cadenzoMock = { options, received, receive, deliver };

    // Outside page-probe there is no native handler: stand in for it, passing bodies through JSON as the
    // native side would see them.
    const webkit = window.webkit;
    if (!(webkit && webkit.messageHandlers && webkit.messageHandlers.nativeAudio)) {
        window.webkit = {
            messageHandlers: {
                nativeAudio: { postMessage: (body) => receive(JSON.parse(JSON.stringify(body))) },
            },
        };
    }
})();
