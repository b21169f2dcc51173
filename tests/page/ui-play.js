// Play, position, the natural end, Stop during start-up, a failing start and a lost interface.
run(async () => {
    const phase = () => $('transport').dataset.phase;
    const devices = () => [...document.querySelectorAll('#devices .device')];
    await until(() => sentOfType('listDevices').length === 1 && devices().length === 3, 'the interfaces are listed');
    check(/Built-in Audio Analog Stereo/.test($('deviceSummary').textContent), 'the system default is chosen first');

    $('tab-outputs').click();
    const card = devices().find((d) => /Scarlett/.test(d.textContent));
    card.focus();
    card.click();
    check(/Scarlett 18i20 USB · 18 outputs/.test($('deviceSummary').textContent), 'the chosen interface is shown');
    check(document.activeElement.dataset.key === 'device-alsa:hw:CARD=USB,DEV=0' && document.activeElement !== card,
        'the keyboard focus stays on the redrawn card');
    $('tab-song').click();
    const fields = { sectionsText: 'In:1,V:2', tempo: '240', countInBars: '1', padKey: 'G', padChart: '1 | 4 % | x' };
    for (const [id, value] of Object.entries(fields)) type(id, value);
    byLabel('Pad on output 3').click();
    const slide = (input, value) => (input.value = value, input.dispatchEvent(new Event('input')));
    slide(byLabel('Tempo of section 2'), '120');
    slide($('level-pad'), '-41');
    press('g');

    const received = mock.received.length;
    press(' ');
    check($('stateLabel').textContent === 'Starting…', 'Space starts the song');
    const [stop, { requestId, ...play }] = mock.received.slice(received);
    check(stop.type === 'stopSong', 'a first song stops whatever may still sound, then plays');
    check(sameData(play, { type: 'playSong', deviceUid: 'alsa:hw:CARD=USB,DEV=0', title: 'New song',
        entries: [{ label: 'In', bars: 1 }, { label: 'V', bars: 2, tempo: 120 }], click: [0, 1], guide: [0, 1], pad: [2],
        tempo: 240, beatsPerBar: 4, countInBars: 1, startSection: 0, totalChannels: 18, padKey: 'G',
        padChords: ['1', '4', '4', 'x'], guideMuted: true, levels: { click: 0, guide: 0, pad: -120 } }), canonical(play));
    check(typeof requestId === 'string' && requestId !== stop.requestId, 'each request has its own id');

    await until(() => phase() === 'playing', 'the reply starts the clock');
    check($('stateLabel').textContent === 'Playing' && $('playLabel').textContent === 'Stop', 'Playing, and Stop');
    check($('posTitle').textContent === 'Count-in' && $('total').textContent === '0:03', 'the count-in; the total');
    check(/The engine plays 3\.50 s; this page expected 6\.00 s/.test($('log').textContent), 'a length that differs');
    // A dragged slider: at most ten changes a second, the last one always.
    for (let db = -20; db <= 0; db++) slide($('level-click'), String(db));
    await until(() => sentOfType('setLevels').at(-1)?.levels.click === 0, 'the last level goes');
    check(sentOfType('setLevels').length <= 3 && sentOfType('setGuideMuted').length === 1, 'levels throttled, no mute');
    await until(() => $('posTitle').textContent === 'In', 'the first section follows the count-in bar');
    check($('posDetail').textContent === 'Bar 1 of 1', 'the bar within the section is shown');
    check(document.querySelector('#sectionStrip button.current').dataset.section === '0', 'the strip marks it');
    await until(() => $('posTitle').textContent === 'V', 'the second section');
    await until(() => $('stateLabel').textContent === 'Ended', 'the song ends at the reply\'s total duration', 3000);
    check(phase() === 'stopped', 'an ended song shows as stopped');

    // Stop pressed while the engine is still starting: the late start is stopped again.
    const stops = () => sentOfType('stopSong').length;
    const before = stops();
    press(' '), press(' ');
    check(phase() === 'stopped', 'Stop during start-up shows stopped at once');
    await until(() => stops() === before + 3, 'a stop before the song, the Stop, and one for the late start');
    check(phase() === 'stopped', 'it stays stopped');
    // What a Play waiting on an earlier start sends, and a mute for the next song, are the transport's
    // (playback.test.mjs): the page sends what it is given, as above.

    // A start that fails says why, in words and with the program's text, and stays stopped.
    mock.options.errors.playSong = "Couldn't select device: -50";
    press(' ');
    await until(() => !$('alert').hidden, 'a failed start is shown');
    check($('alertText').textContent === "The song didn't start: The audio interface could not be selected; is it " +
        "busy or unplugged? (Couldn't select device: -50)", `alert: ${$('alertText').textContent}`);
    check(phase() === 'stopped' && /Failed: Couldn't select device: -50/.test($('log').textContent), 'stopped, logged');

    // The interface goes while the song plays: told at once, unasked, and Play starts the next song.
    delete mock.options.errors.playSong;
    press(' ');
    await until(() => phase() === 'playing', 'playing again');
    // The strip jumps without a stop, at the next bar or (Shift) at the section's end; the start section stays.
    const sent = mock.received.length;
    $('sectionStrip').querySelector('[data-section="1"]').click();
    $('sectionStrip').querySelector('[data-section="0"]').dispatchEvent(new MouseEvent('click', { shiftKey: true }));
    press('v');
    const bodies = mock.received.slice(sent).map(({ requestId: _, ...body }) => body);
    check(sameData(bodies, [{ type: 'jumpToSection', section: 1, at: 'bar' }, { type: 'jumpToSection', section: 0,
        at: 'section' }, { type: 'setVamp', on: true }]) && $('startSection').value === '0', canonical(bodies));
    await until(() => $('vampButton').getAttribute('aria-pressed') === 'true', 'the vamp shows');
    mock.deliver({ type: 'deviceLost', deviceUid: 'alsa:hw:CARD=USB,DEV=0' });
    check(phase() === 'stopped' && $('alertText').textContent === 'The audio interface "Scarlett 18i20 USB" went ' +
        'away and the song stopped. Reconnect it or restart its audio server, then press Play.', $('alertText').textContent);
    const plays = sentOfType('playSong').length;
    press(' ');
    check(sentOfType('playSong').length === plays + 1, 'Play sends the song again');
});
