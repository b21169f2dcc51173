// Drives the bundled control page through its own controls against the real bridge and a JACK dummy
// device: choose the song, the pad and the routing, play, mute the cues, stop, then a test tone that a
// listing overtakes; then bodies only other pages send, straight to the bridge. web_host.sh checks the
// recording.
run(async () => {
    check(/\/CadenzoPlayer_CadenzoPlayer\.bundle\/bridge-test\.html$/.test(location.href), 'the bundled page');
    const wav = new Uint8Array(await (await fetch('GuideSounds/Bridge.wav')).arrayBuffer());
    check(String.fromCharCode(...wav.slice(0, 4)) === 'RIFF', 'the page reads the files beside it');
    await until(() => /system · 8 outputs/.test($('deviceSummary').textContent), 'the JACK device is chosen', 10000);

    $('tab-song').click();
    for (const [id, value] of [['sectionsText', 'In:1,V:2,Ch:1'], ['tempo', '240'], ['countInBars', '1']]) type(id, value);
    $('tab-pad').click();
    for (const [id, value] of [['padKey', 'C'], ['padChart', '1 4 5 1']]) type(id, value);
    $('tab-outputs').click();
    // Looked up afresh for each click, which redraws the boxes.
    const box = (name, c) => byLabel(`${name} on output ${c}`);
    for (const [name, output] of [['Click', 5], ['Cues', 7], ['Pad', 3]])
        for (let c = 1; c <= 8; c++) if (box(name, c).checked !== (c === output)) box(name, c).click();

    $('playButton').click();
    await until(() => $('stateLabel').textContent === 'Playing', 'the song plays', 15000);
    check($('total').textContent === '0:05', `the total comes from the reply (${$('total').textContent})`);
    await sleep(1500);
    $('guideButton').click();
    await until(() => $('guideState').textContent === 'Off', 'the cues are muted');
    await sleep(1000);
    check(/^0:0[23]$/.test($('elapsed').textContent), `the clock runs (${$('elapsed').textContent})`);
    $('playButton').click();
    await until(() => $('stateLabel').textContent === 'Stopped', 'the song stops');
    await sleep(2000);

    byLabel('Test tone on output 4').click();
    $('refreshDevices').click();
    await until(() => /OK: \d+ interface/.test($('log').children[0].textContent), 'the listing is answered');
    check(byLabel('Test tone on output 4').getAttribute('aria-busy') === 'true', 'the listing overtakes the tone');
    await until(() => /Output 4 played its test tone/.test($('statusLine').textContent), 'the tone is answered', 10000);
    check($('alert').hidden, `no error is shown (${$('alertText').textContent})`);

    // Results are caught before the page sees them; ids of any JSON type come back as they were.
    const results = [];
    const pageHandler = window.onNativeAudioResult;
    window.onNativeAudioResult = (result) => results.push(result);
    const ids = [{ a: [1, null, 'x'] }, 3.5, null, [true]];
    const bodies = ['just text', undefined, { type: 5, requestId: 'm' }, { type: 'ListDevices', requestId: 'u' },
        ...ids.map((requestId) => ({ type: 'stopSong', requestId }))];
    for (const body of bodies) window.webkit.messageHandlers.nativeAudio.postMessage(body);
    await until(() => results.length === bodies.length, 'every body is answered');
    window.onNativeAudioResult = pageHandler;
    const malformed = { ok: false, error: 'Malformed message' };
    const expected = [malformed, malformed, malformed,
        { ok: false, error: 'Unknown message type: ListDevices', requestId: 'u' },
        ...ids.map((requestId) => ({ ok: true, type: 'stopSong', requestId }))];
    check(sameData(results.map(canonical).sort(), expected.map(canonical).sort()), `results: ${canonical(results)}`);
});
