// Test tones with their busy state, replies out of order, duplicates, foreign errors and a missing interface.
run(async () => {
    const tone = (output) => byLabel(`Test tone on output ${output}`);
    const newest = () => $('log').children[0].textContent;
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    [...document.querySelectorAll('#devices .device')].find((d) => /Scarlett/.test(d.textContent)).click();
    $('tab-outputs').click();
    check(document.querySelectorAll('#matrix thead button').length === 18, 'a test button per output');
    // Routing the click nowhere brings a warning; the grid stays where the pointer is.
    const grid = () => JSON.stringify($('matrix').getBoundingClientRect());
    const before = grid();
    for (const output of [1, 2]) byLabel(`Click on output ${output}`).click();
    check(/The click goes to no output/.test($('outputProblems').textContent) && grid() === before, `grid ${grid()}`);
    for (const output of [1, 2]) byLabel(`Click on output ${output}`).click();

    tone(3).click();
    const { requestId, ...fields } = sentOfType('testTone')[0] || {};
    check(sameData(fields, { type: 'testTone', deviceUid: 'alsa:hw:CARD=USB,DEV=0', channels: [2], channelCount: 18 }),
        `testTone: ${canonical(fields)}`);
    check(tone(3).getAttribute('aria-busy') === 'true' && tone(5).getAttribute('aria-disabled') === 'true',
        'the playing output shows busy; the others wait for it');
    tone(5).click();
    // Asked later, answered first; the second tone was never sent.
    $('refreshDevices').click();
    await until(() => sentOfType('listDevices').length === 2 && /OK: 3 interface/.test(newest()), 'the listing');
    check(tone(3).getAttribute('aria-busy') === 'true' && sentOfType('testTone').length === 1, 'one tone, still on');
    await until(() => tone(3).getAttribute('aria-busy') === 'false', 'the tone reply ends the busy state', 4000);
    check($('statusLine').textContent === 'Output 3 played its test tone.', 'the tone result is shown');

    mock.options.errors.testTone = 'setSinkId equivalent failed: -10851';
    tone(2).click();
    await until(() => !$('alert').hidden, 'a failed tone is shown');
    check($('alertText').textContent === 'Output 2: The audio interface could not be selected; is it busy or ' +
        'unplugged? (setSinkId equivalent failed: -10851)', `alert: ${$('alertText').textContent}`);
    check(tone(2).classList.contains('failed'), 'the failed output is marked');
    $('alertDismiss').click();

    // The same reply twice is taken once.
    const entries = $('log').childElementCount;
    mock.deliver({ ok: false, type: 'testTone', requestId: sentOfType('testTone')[1].requestId, error: 'x' });
    check($('log').childElementCount === entries + 1 && /second reply/.test(newest()), 'a duplicate is logged');
    check($('alert').hidden, 'a duplicate shows no second alert');

    // A reply of a type that does not fit its id is not taken for it.
    press('g');
    // Before the mute's own reply, which comes once this script has run.
    mock.deliver({ ok: true, type: 'stopSong', requestId: sentOfType('setGuideMuted')[0].requestId });
    check(/does not fit its request/.test(newest()), 'a reply of the wrong type is ignored');

    // An error for no request of this page still reaches the musician.
    mock.deliver({ ok: false, error: 'Malformed message' });
    check(/could not read a message from this page \(Malformed message\)/.test($('alertText').textContent) &&
        !$('alert').hidden, `foreign error: ${$('alertText').textContent}`);

    // The chosen interface disappears: said, marked, and nothing is sent to it.
    mock.options.devices = mock.options.devices.filter((d) => !/Scarlett/.test(d.name));
    $('refreshDevices').click();
    await until(() => /isn't connected/.test($('alertText').textContent), 'a missing interface is reported');
    check($('deviceSummary').classList.contains('missing'), 'the header marks the missing interface');
    check($('playButton').getAttribute('aria-disabled') === 'true', 'Play is held back');
    const plays = sentOfType('playSong').length;
    press(' ');
    check(/^Can't play yet: "Scarlett 18i20 USB" isn't connected/.test($('alertText').textContent),
        `Play says why it cannot: ${$('alertText').textContent}`);
    check(sentOfType('playSong').length === plays, 'nothing is sent to a missing interface');
});
