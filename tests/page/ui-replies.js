// Test tones with their busy state, replies out of order, duplicates, foreign errors and a missing interface.
run(async () => {
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    [...document.querySelectorAll('#devices .device')].find((d) => /Scarlett/.test(d.textContent)).click();
    $('tab-outputs').click();
    check(
        document.querySelectorAll('#matrix thead button').length === 18,
        'one test button per output of the interface',
    );

    byLabel('Test tone on output 3').click();
    await until(() => sentOfType('testTone').length === 1, 'the tone request arrives');
    const tone = sentOfType('testTone')[0];
    check(
        tone &&
            JSON.stringify(tone.channels) === '[2]' &&
            tone.channelCount === 18 &&
            tone.deviceUid === 'alsa:hw:CARD=USB,DEV=0',
        `testTone fields: ${JSON.stringify(tone)}`,
    );
    check(byLabel('Test tone on output 3').getAttribute('aria-busy') === 'true', 'the playing output shows busy');
    check(byLabel('Test tone on output 5').getAttribute('aria-disabled') === 'true', 'other outputs wait for the tone');
    byLabel('Test tone on output 5').click();
    await sleep(100);
    check(sentOfType('testTone').length === 1, 'no second tone while one plays');

    // Asked later, answered first.
    $('refreshDevices').click();
    await until(
        () => sentOfType('listDevices').length === 2 && /OK: 3 interface/.test($('log').children[0].textContent),
        'the later list reply arrives first',
    );
    check(byLabel('Test tone on output 3').getAttribute('aria-busy') === 'true', 'the tone is still playing');
    await until(
        () => byLabel('Test tone on output 3').getAttribute('aria-busy') === 'false',
        'the tone reply ends the busy state',
        4000,
    );
    check($('statusLine').textContent === 'Output 3 played its test tone.', 'the tone result is shown');

    mock.options.toneError = 'setSinkId equivalent failed: -10851';
    byLabel('Test tone on output 2').click();
    await until(() => !$('alert').hidden, 'a failed tone is shown');
    check(
        $('alertText').textContent ===
            'Output 2: The audio interface could not be selected; is it busy or unplugged? ' +
                '(setSinkId equivalent failed: -10851)',
        `alert text: ${$('alertText').textContent}`,
    );
    check(byLabel('Test tone on output 2').classList.contains('failed'), 'the failed output is marked');
    $('alertDismiss').click();

    // The same reply twice is taken once.
    const id = sentOfType('testTone')[1].requestId;
    const entries = $('log').childElementCount;
    mock.deliver({ ok: false, type: 'testTone', requestId: id, error: 'setSinkId equivalent failed: -10851' });
    check(
        $('log').childElementCount === entries + 1 && /second reply/.test($('log').children[0].textContent),
        'a duplicate is logged as ignored',
    );
    check($('alert').hidden, 'a duplicate shows no second alert');

    // A reply of a type that does not fit its id is not taken for it.
    mock.options.silent.add('setGuideMuted');
    press('g');
    await until(() => sentOfType('setGuideMuted').length === 1, 'the mute arrives');
    const muteId = sentOfType('setGuideMuted')[0].requestId;
    mock.deliver({ ok: true, type: 'stopSong', requestId: muteId });
    check(/does not fit its request/.test($('log').children[0].textContent), 'a reply of the wrong type is ignored');

    // An error for no request of this page still reaches the musician.
    mock.deliver({ ok: false, error: 'Malformed message' });
    check(
        !$('alert').hidden &&
            /could not read a message from this page \(Malformed message\)/.test($('alertText').textContent),
        `foreign error: ${$('alertText').textContent}`,
    );

    // The chosen interface disappears.
    mock.options.devices = mock.options.devices.filter((d) => !/Scarlett/.test(d.name));
    $('refreshDevices').click();
    await until(() => /isn't connected/.test($('alertText').textContent), 'a missing interface is reported');
    check($('deviceSummary').classList.contains('missing'), 'the header marks the missing interface');
    check($('playButton').getAttribute('aria-disabled') === 'true', 'Play is held back');
    const plays = sentOfType('playSong').length;
    press(' ');
    await sleep(150);
    check(sentOfType('playSong').length === plays, 'nothing is sent to a missing interface');
    check(
        /^Can't play yet: "Scarlett 18i20 USB" isn't connected/.test($('alertText').textContent),
        `Play says why it cannot: ${$('alertText').textContent}`,
    );
});
