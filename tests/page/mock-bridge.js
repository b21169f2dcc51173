// A stand-in for the native audio bridge, injected before the page's own scripts: it answers as the
// program does, one result per request with its `requestId`, through the program's own delivery script;
// a listing at once, a tone 1.5 s later, a song once it has started; jumps, vamps and levels while one plays.
// Its song length is `totalDuration`, not the page's own, so that the page is seen to take it from the reply.
//
// The library file stands in local storage under its own key (kept between runs with page-probe's
// --data-dir), and a warning for its next reading under another. Scenarios steer it through
// window.__cadenzoMock: `options` (delays, errors, devices), `received` (every request body, in order),
// `library()` and `deliver(result)`. Hands-free control answers as the program does, keeps its
// state in `control` (MIDI, OSC, the mappings in use), and answers a waiting learn with `pressPedal(press)`.
(function () {
    'use strict';
    const options = {
        devices: [
            { uid: 'alsa:hw:CARD=USB,DEV=0', name: 'Scarlett 18i20 USB', channels: 18, isDefault: false },
            { uid: 'pulse:default', name: 'Built-in Audio Analog Stereo', channels: 2, isDefault: true },
            { uid: 'jack:system', name: 'system', channels: 8, isDefault: false },
        ],
        toneDelay: 1500,
        playDelay: 120,
        totalDuration: 3.5,
        errors: {}, // by request type, for example { testTone: 'setSinkId equivalent failed: -10851' }
    };
    const received = [];
    const control = { midi: { available: true, port: 'CadenzoPlayer control', system: 'JACK', input: null,
        inputs: ['USB MIDI Pedal', 'Keystation 49'], message: 'MIDI control: "CadenzoPlayer control" on JACK' },
    osc: { port: 9000, bind: '127.0.0.1', message: 'OSC control: udp 127.0.0.1:9000', received: 0, dropped: 0 },
    mappings: [80, 81, 82, 83].map((number, i) => ({ kind: 'cc', channel: 0, number,
        action: ['playStop', 'next', 'nextSection', 'vamp'][i] })) };
    let learning = null;
    let sections = 0; // of the song playing
    const FILE = 'cadenzo.mock.library';
    const WARNING = 'cadenzo.mock.warning';
    const library = () => JSON.parse(localStorage.getItem(FILE));
    const deliver = (result) => (0, eval)(`(window.onNativeAudioResult || console.log)(${JSON.stringify(result)})`);

    const reply = (body, result, delay) => setTimeout(() => deliver({ ...result, requestId: body.requestId }), delay);
    function pressPedal(press) {
        if (learning) reply(learning, { type: 'learnMidi', ok: true, press });
        learning = null;
    }

    function receive(body) {
        received.push(body);
        const answer = (result, delay) => reply(body, result, delay);
        const { type } = body;
        const fine = { type, ok: true };
        if (options.errors[type]) answer({ ok: false, type, error: options.errors[type] });
        else if (type === 'controlStatus') answer({ ...fine, ...JSON.parse(JSON.stringify(control)) });
        else if (type === 'setMidiMappings') control.mappings = body.mappings, answer(fine);
        else if (type === 'connectMidiInput' && body.name !== null && !control.midi.inputs.includes(body.name))
            answer({ type, ok: false, error: `No MIDI input named "${body.name}"` });
        else if (type === 'connectMidiInput') control.midi.input = body.name, answer(fine);
        else if (type === 'learnMidi' && !control.midi.available)
            answer({ type, ok: false, error: control.midi.message });
        else if (type === 'learnMidi') {
            if (learning) reply(learning, { type, ok: false, error: 'Learning cancelled' });
            learning = body.cancel ? null : body;
            if (body.cancel) answer(fine);
        }
        else if (type === 'listDevices') answer({ ok: true, type, devices: options.devices.map((d) => ({ ...d })) });
        else if (type === 'testTone') answer({ ok: true, type }, options.toneDelay);
        else if (type === 'playSong') {
            sections = body.entries.length;
            answer({ ok: true, type, totalDuration: options.totalDuration }, options.playDelay);
        } else if (type === 'stopSong') {
            sections = 0;
            answer({ ok: true, type });
        } else if (['setLevels', 'setVamp', 'jumpToSection'].includes(type) && sections === 0)
            answer({ ok: false, type, error: 'Nothing is playing' });
        else if (type === 'jumpToSection' && !(body.section < sections))
            answer({ ok: false, type, error: `Section ${body.section} is out of range: the song has ${sections} sections` });
        else if (type === 'exportSong')
            answer({ ok: true, type, path: `/home/u/Music/CadenzoPlayer/${body.fileName.replace(/(\.wav)?$/, '.wav')}` });
        else if (type === 'loadLibrary') {
            const warning = localStorage.getItem(WARNING);
            localStorage.removeItem(WARNING);
            answer({ ok: true, type, library: library(), ...(warning ? { warning } : {}) });
        } else if (type === 'saveLibrary') {
            localStorage.setItem(FILE, JSON.stringify(body.library));
            answer({ ok: true, type });
        } else if (type === 'saveFile') answer({ ok: true, type, path: `/home/u/Documents/CadenzoPlayer/${body.fileName}` });
        else answer({ ok: true, type });
    }

    window.__cadenzoMock = { options, received, deliver, library, control, pressPedal };
    // Bodies as the native side sees them: JSON data.
    const nativeAudio = { postMessage: (body) => receive(JSON.parse(JSON.stringify(body))) };
    if (window.webkit) window.webkit.messageHandlers.nativeAudio = nativeAudio;
    else window.webkit = { messageHandlers: { nativeAudio } };
})();
