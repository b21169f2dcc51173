// The keyboard on stage: Space, G and PgUp/PgDn work wherever the focus is (buttons, checkboxes, a closed
// select), except in fields that take typing; Space never presses the focused control as well; Escape stops.
run(async () => {
    const phase = () => $('transport').dataset.phase;
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');

    $('newSong').focus();
    stroke('space'), await until(() => phase() === 'playing', 'Space on a focused button plays the song');
    stroke('space'), await until(() => phase() === 'stopped', 'Space again stops');
    check($('songs').children.length === 1, 'the focused button is not pressed too');

    $('songTitle').focus();
    const title = $('songTitle').value;
    stroke('space'), await until(() => $('songTitle').value === `${title} `, 'Space types into a text field');
    check(phase() === 'stopped', 'and does not play');

    $('tab-outputs').click();
    const card = [...document.querySelectorAll('#devices .device')].find((d) => /system/.test(d.textContent));
    card.focus();
    stroke('Return');
    await until(() => /^system · 8 outputs$/.test($('deviceSummary').textContent), 'Return chooses the interface');
    check(document.activeElement.dataset.key === 'device-jack:system', 'the focus stays on it');

    // A ticked routing box keeps the focus; Space then plays and leaves the box as it is.
    byLabel('Pad on output 4').focus(), byLabel('Pad on output 4').click();
    stroke('space'), await until(() => phase() === 'playing', 'Space plays from a focused checkbox');
    check(byLabel('Pad on output 4').checked && document.activeElement === byLabel('Pad on output 4'),
        'the box stays ticked and focused');
    stroke('space'), await until(() => phase() === 'stopped', 'and Space stops');

    // A typed tempo: Enter keeps it and leaves the field, and Space plays instead of typing.
    $('tab-song').click();
    $('tempo').focus();
    $('tempo').value = '';
    for (const digit of '133') stroke(digit);
    stroke('Return'), await until(() => document.activeElement !== $('tempo'), 'Enter leaves the tempo field');
    stroke('space'), await until(() => phase() === 'playing', 'Space then plays');
    check($('tempo').value === '133' && /133 bpm/.test($('nowMeta').textContent), `tempo ${$('tempo').value}`);
    stroke('space'), await until(() => phase() === 'stopped', 'and stops');

    $('tab-song').click();
    $('tab-song').focus();
    stroke('space'), await until(() => phase() === 'playing', 'Space plays from there');
    stroke('g'), await until(() => $('guideState').textContent === 'Off' &&
        $('guideButton').getAttribute('aria-pressed') === 'true', 'G turns the cues off');
    stroke('Escape'), await until(() => phase() === 'stopped', 'Escape stops');
    await until(() => sentOfType('setGuideMuted').length === 1, 'the mute was sent');
});
