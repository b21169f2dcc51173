// The bundled page on the real bridge while web_host.sh plays foot switch and tablet (control_probe): every
// action reaches the page once, as its keys would have it, and the page acts on it.
run(async () => {
    const seen = [];
    const results = [];
    const pageHandler = window.onNativeAudioResult;
    window.onNativeAudioResult = (result) => {
        if (result && result.type === 'control') seen.push(result);
        else if (result) results.push(result);
        pageHandler(result);
    };
    // Ready once the library is read and the program's control state shown; web_host.sh waits for this file.
    await until(() => /^MIDI control: "CadenzoPlayer control" on JACK/.test($('midiStatus').textContent) &&
        /^OSC control: udp 127\.0\.0\.1:\d+/.test($('oscStatus').textContent), 'the control state is shown', 20000);
    window.webkit.messageHandlers.nativeAudio.postMessage({ type: 'saveFile', fileName: 'ready', text: '' });
    const current = () => document.querySelector('#songs [aria-current="true"]')?.textContent ?? '';
    const state = (label) => () => $('stateLabel').textContent === label;
    const answered = (type, ok = true) => () => results.some((r) => r.type === type && r.ok === ok);
    // Each step waits for what the one before it caused; web_host.sh sends a step every 1.5 s.
    const steps = [
        ['the foot switch plays the first song', () => state('Playing')() && /Opener/.test(current())],
        ['the next section is taken on the bar', answered('jumpToSection')],
        ['the foot switch stops', state('Stopped')],
        ['the foot switch steps to the next song', () => /Encore/.test(current())],
        ['the tablet steps back', () => /Opener/.test(current())],
        ['the tablet plays', state('Playing')],
        ['the tablet turns the vamp on and off', () => results.filter((r) => r.type === 'setVamp' && r.ok).length === 2],
        ['the tablet mutes and unmutes the cues', () => results.filter((r) => r.type === 'setGuideMuted').length >= 2],
        ['the tablet stops', state('Stopped')],
    ];
    for (const [what, done] of steps) await until(done, what, 15000);
    // After the flood the tablet stops once more; the page still follows.
    await until(() => seen.filter((m) => m.action === 'stop').length === 2, 'a stop after the flood', 20000);
    const count = (action, extra = {}) => seen.filter((m) => m.action === action &&
        Object.entries(extra).every(([key, value]) => m[key] === value)).length;
    const expected = [['playStop', {}, 2], ['nextSection', {}, 1], ['next', {}, 1], ['previous', {}, 1], ['play', {}, 1],
        ['section', { section: 2 }, 1], ['vamp', { on: true }, 1], ['vamp', { on: false }, 1], ['cues', { on: false }, 1],
        ['cues', { on: true }, 1], ['stop', {}, 2]];
    for (const [action, extra, times] of expected)
        check(count(action, extra) === times, `${action} ${JSON.stringify(extra)} came ${count(action, extra)} times`);
    // 10,000 taps in well under a second: the burst and what the rate lets through, no more.
    const taps = count('tap');
    check(taps >= 2 && taps <= 40, `${taps} taps reached the page`);
    check(seen.length === 13 + taps, `unexpected actions: ${canonical(seen)}`);
});
