// The keyboard on stage: Space plays and stops wherever the focus is, except in fields that take it,
// and never presses the focused button as well; G mutes the cues; Escape stops.
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

    byLabel('Pad on output 4').focus();
    stroke('space'), await until(() => byLabel('Pad on output 4').checked, 'Space ticks a focused checkbox');
    check(document.activeElement === byLabel('Pad on output 4') && phase() === 'stopped', 'keeps the focus, no play');

    $('tab-song').click();
    $('tab-song').focus();
    stroke('space'), await until(() => phase() === 'playing', 'Space plays from there');
    stroke('g'), await until(() => $('guideState').textContent === 'Off' &&
        $('guideButton').getAttribute('aria-pressed') === 'true', 'G turns the cues off');
    stroke('Escape'), await until(() => phase() === 'stopped', 'Escape stops');
    await until(() => sentOfType('setGuideMuted').length === 1, 'the mute was sent');
});
