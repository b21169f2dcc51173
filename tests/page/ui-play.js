// Play, position, the natural end, Stop during start-up, cue muting and a failing start.
run(async () => {
    await until(
        () => sentOfType('listDevices').length === 1 && document.querySelectorAll('#devices .device').length === 3,
        'the interfaces are listed at start',
    );
    check(
        /Built-in Audio Analog Stereo/.test($('deviceSummary').textContent),
        'the system default is chosen when none is remembered',
    );

    $('tab-outputs').click();
    const card = [...document.querySelectorAll('#devices .device')].find((d) => /Scarlett/.test(d.textContent));
    card.focus();
    card.click();
    check(
        /Scarlett 18i20 USB · 18 outputs/.test($('deviceSummary').textContent),
        'a chosen interface shows in the header',
    );
    check(
        document.activeElement.getAttribute('data-key') === 'device-alsa:hw:CARD=USB,DEV=0' &&
            document.activeElement !== card,
        'the keyboard focus stays on the redrawn card',
    );
    $('tab-song').click();
    type('sectionsText', 'In:1,V:2');
    type('tempo', '240');
    type('countInBars', '1');
    type('padKey', 'G');
    type('padChart', '1 | 4 % | x');
    byLabel('Pad on output 3').click();

    const received = mock.received.length;
    press(' ');
    check($('stateLabel').textContent === 'Starting…', 'Space starts the song');
    await until(() => mock.received.length === received + 2, 'two requests reach the native side');
    const sent = mock.received.slice(-2);
    check(
        sent.map((b) => b.type).join() === 'stopSong,playSong',
        'a first song stops whatever may still sound, then plays',
    );
    const play = sent[1];
    const expected = {
        type: 'playSong',
        deviceUid: 'alsa:hw:CARD=USB,DEV=0',
        entries: [
            { label: 'In', bars: 1 },
            { label: 'V', bars: 2 },
        ],
        click: [0, 1],
        guide: [0, 1],
        pad: [2],
        tempo: 240,
        beatsPerBar: 4,
        countInBars: 1,
        startSection: 0,
        totalChannels: 18,
        padKey: 'G',
        padChords: ['1', '4', '4', 'x'],
    };
    const { requestId, ...fields } = play;
    check(sameData(fields, expected), `playSong fields: ${JSON.stringify(fields)}`);
    check(typeof requestId === 'string' && requestId !== sent[0].requestId, 'each request has its own id');

    await until(() => $('transport').dataset.phase === 'playing', 'the reply starts the clock');
    check($('stateLabel').textContent === 'Playing', 'the state reads Playing');
    check($('playLabel').textContent === 'Stop', 'the big button becomes Stop');
    check($('posTitle').textContent === 'Count-in', 'the count-in is shown first');
    await until(() => $('posTitle').textContent === 'In', 'the first section follows the count-in bar');
    check($('posDetail').textContent === 'Bar 1 of 1', 'the bar within the section is shown');
    check($('total').textContent === '0:04', 'the total comes from the reply');
    check(
        document.querySelector('#sectionStrip button.current').dataset.section === '0',
        'the strip marks the section',
    );
    await until(() => $('posTitle').textContent === 'V', 'the second section');
    await until(() => $('stateLabel').textContent === 'Ended', 'the song ends by itself at its total duration', 4000);
    check($('transport').dataset.phase === 'stopped', 'an ended song shows as stopped');

    // Stop pressed while the engine is still starting: the late start is stopped again.
    const before = sentOfType('stopSong').length;
    press(' ');
    press(' ');
    check($('transport').dataset.phase === 'stopped', 'Stop during start-up shows stopped at once');
    await until(() => sentOfType('stopSong').length >= before + 2, 'a stop before the next song and the Stop itself');
    await until(() => sentOfType('stopSong').length === before + 3, 'the song that started after Stop is stopped');
    check($('transport').dataset.phase === 'stopped', 'it stays stopped');

    // Play, Stop, Play in quick succession: the second song goes out only after the first start is
    // answered and stopped, so that this stop cannot end it.
    mock.options.playDelay = 400;
    const count = mock.received.length;
    press(' ');
    press(' ');
    press(' ');
    check($('stateLabel').textContent === 'Starting…', 'the second Play shows it is starting');
    await until(() => $('transport').dataset.phase === 'playing', 'the second song plays', 4000);
    const order = mock.received
        .slice(count)
        .map((b) => b.type)
        .join();
    check(order === 'playSong,stopSong,stopSong,playSong', `requests in a safe order: ${order}`);
    mock.options.playDelay = 120;
    press(' ');
    check($('transport').dataset.phase === 'stopped', 'Space stops it');

    // Muted cues are muted again for the next song, which the player starts audible.
    press('g');
    check(
        $('guideButton').getAttribute('aria-pressed') === 'true' && $('guideState').textContent === 'Off',
        'G turns the cues off',
    );
    const mutes = () =>
        sentOfType('setGuideMuted')
            .map((b) => b.muted)
            .join();
    await until(() => mutes() === 'true', 'the mute is sent');
    $('playButton').click();
    await until(() => $('transport').dataset.phase === 'playing', 'plays again');
    await until(() => mutes() === 'true,true', 'the mute follows the new song');
    $('playButton').click();
    check($('transport').dataset.phase === 'stopped', 'the button stops');

    // A start that fails says why, in words and with the program's text, and stays stopped.
    mock.options.playError = "Couldn't select device: -50";
    press(' ');
    await until(() => !$('alert').hidden, 'a failed start is shown');
    check(
        $('alertText').textContent ===
            "The song didn't start: The audio interface could not be selected; is it busy or unplugged? " +
                "(Couldn't select device: -50)",
        `alert text: ${$('alertText').textContent}`,
    );
    check($('transport').dataset.phase === 'stopped', 'a failed start leaves the transport stopped');
    check(/Failed: Couldn't select device: -50/.test(logText()), "the log keeps the program's text");
});
