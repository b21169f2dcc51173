// The keyboard on stage: Space plays and stops wherever the focus is, except in fields that take it,
// and never presses the focused button as well; G mutes the cues; Escape stops.
run(async () => {
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    const phase = () => $('transport').dataset.phase;

    $('newSong').focus();
    await stroke('space');
    await until(() => phase() === 'playing', 'Space on a focused button plays the song');
    check($('songs').children.length === 1, 'the focused button is not pressed too');
    await stroke('space');
    check(phase() === 'stopped', 'Space again stops');

    $('songTitle').focus();
    const title = $('songTitle').value;
    await stroke('space');
    check($('songTitle').value === `${title} `, 'Space types into a text field');
    check(phase() === 'stopped', 'and does not play');

    $('tab-outputs').click();
    const card = [...document.querySelectorAll('#devices .device')].find((d) => /system/.test(d.textContent));
    card.focus();
    await stroke('Return');
    check(/^system · 8 outputs$/.test($('deviceSummary').textContent), 'Return chooses the focused interface');
    check(document.activeElement.getAttribute('data-key') === 'device-jack:system', 'the focus stays on it');

    const box = byLabel('Pad on output 4');
    box.focus();
    await stroke('space');
    check(byLabel('Pad on output 4').checked, 'Space ticks a focused checkbox');
    check(document.activeElement === byLabel('Pad on output 4'), 'the redrawn checkbox keeps the focus');
    check(phase() === 'stopped', 'and does not play');
    card.focus();

    $('tab-song').click();
    $('tab-song').focus();
    await stroke('space');
    await until(() => phase() === 'playing', 'Space plays from there');
    await stroke('g');
    check($('guideState').textContent === 'Off', 'G turns the cues off');
    await stroke('Escape');
    check(phase() === 'stopped', 'Escape stops');
    await until(() => sentOfType('setGuideMuted').length === 1, 'the mute was sent');
});
