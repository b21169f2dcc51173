// First run, with no library file yet and what an earlier page kept in local storage (bad-storage.js): the
// routing moves into the file, the unreadable set list is kept aside and the musician told, and the old keys go
// once the file holds it. Then choices that must survive a restart, a save that fails and is tried again, and
// changes in quick succession written a few times, not once each.
run(async () => {
    await until(() => /saved set list could not be read/.test($('alertText').textContent), 'told');
    check(localStorage.getItem('cadenzo.setlist.unreadable') === BAD_SET_LIST, 'the unreadable text is kept');
    check($('songs').children.length === 1 && $('songTitle').value === 'New song', 'a fresh set list starts');
    await until(() => localStorage.getItem('cadenzo.setlist.v1') === null && localStorage.getItem('cadenzo.rig.v1')
        === null, 'the old keys go once the file holds their data');
    check(mock.library().rig.devices['alsa:hw:CARD=USB,DEV=0'].pad.join() === '5', 'the routing is in the file');
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    check(/Scarlett 18i20 USB/.test($('deviceSummary').textContent) && byLabel('Pad on output 5').checked,
        'the routing is in use');

    mock.options.errors.saveLibrary = 'No space left on device';
    type('songTitle', 'Encore');
    await until(() => /could not be saved: No space left on device/.test($('alertText').textContent), 'a failed save');
    delete mock.options.errors.saveLibrary;
    const saves = sentOfType('saveLibrary').length;
    type('padKey', 'E');
    $('newSong').click();
    type('songTitle', 'Opener');
    $('songUp').click();
    type('totalChannels', '12');
    $('level-guide').value = '-6';
    $('level-guide').dispatchEvent(new Event('input'));
    const titles = () => (mock.library()?.songs || []).map((song) => song.title).join('|');
    const routing = () => mock.library().rig.devices['alsa:hw:CARD=USB,DEV=0'];
    await until(() => titles() === 'Opener|Encore' && routing().totalChannels === 12 && routing().levels.guide === -6,
        `the changes reach the file (${titles()})`);
    check(sentOfType('saveLibrary').length - saves <= 2, `saves: ${sentOfType('saveLibrary').length - saves}`);
    localStorage.setItem('cadenzo.mock.warning', 'The library file could not be read; the backup of 20:15 was used.');
    // Pedals an earlier run chose, for the next run to send before it asks how things stand.
    localStorage.setItem('cadenzo.mock.library', JSON.stringify({ ...mock.library(), control: { midiInput: 'USB MIDI Pedal',
        midiMappings: [{ kind: 'note', channel: 10, number: 36, action: 'section', section: 2 }] } }));
});
