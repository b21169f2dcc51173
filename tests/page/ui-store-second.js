// Second run on the same storage: the library file gives the set list, the interface and the routing as they
// were left, with the program's warning shown. The set list saved as a file carries the routing; an imported file
// changes the routing only when it has one.
run(async () => {
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    check($('alertText').textContent === 'The library file could not be read; the backup of 20:15 was used.',
        `the warning: ${$('alertText').textContent}`);
    check(/Scarlett 18i20 USB/.test($('deviceSummary').textContent), `interface: ${$('deviceSummary').textContent}`);
    const routed = (name, output) => byLabel(`${name} on output ${output}`).checked;
    check(routed('Pad', 5) && routed('Click', 1) && !routed('Click', 2) && !routed('Pad', 1), 'the routing is kept');
    const control = mock.received.map((body) => body.type).filter((type) => /Midi|control/.test(type)).join();
    check(control === 'setMidiMappings,connectMidiInput,controlStatus' && sentOfType('connectMidiInput')[0].name ===
        'USB MIDI Pedal' && sentOfType('setMidiMappings')[0].mappings[0].number === 36, `sent at start: ${control}`);
    check([...$('mappingRows').children].find((tr) => tr.cells[0].textContent === 'Section 2').cells[1].textContent ===
        'Note 36 ch 10', 'the pedals kept are shown');
    check($('totalChannels').value === '12' && $('level-guide-text').textContent === '−6 dB', 'outputs in use, levels');
    const titles = [...$('songs').querySelectorAll('.t')].map((t) => t.textContent).join('|');
    check(titles === 'Opener|Encore' && $('songTitle').value === 'Opener', `the set list and song: ${titles}`);
    press('PageDown');
    check($('padKey').value === 'E', 'each song keeps its pad key');
    check(localStorage.getItem('cadenzo.setlist.v1') === null, 'local storage is not used');

    $('openTransfer').click();
    $('downloadFile').click();
    await until(() => /^Saved as \/home\/u\/Documents\/CadenzoPlayer\/Set list [-0-9]+\.json$/.test(
        $('transferMessage').textContent), `the path is shown: ${$('transferMessage').textContent}`);
    const saved = JSON.parse(sentOfType('saveFile')[0].text);
    check(saved.songs.length === 2 && saved.rig.devices['alsa:hw:CARD=USB,DEV=0'].pad.join() === '5', 'with routing');

    // Each song of the set list exported in turn, under its title, and where each went is said.
    $('exportSetList').click();
    await until(() => sentOfType('exportSong').length === 2 && /Encore.* → /.test($('transferMessage').textContent),
        `both exported: ${$('transferMessage').textContent}`);
    check(sentOfType('exportSong').map((b) => b.fileName).join() === 'Opener.wav,Encore.wav' && $('transferMessage')
        .textContent.startsWith('"Opener" → /home/u/Music/CadenzoPlayer/Opener.wav\n'), $('transferMessage').textContent);
    const importing = (extra) => {
        $('transferText').value = JSON.stringify({ format: 'cadenzo-setlist', version: 1, ...extra,
            songs: [{ title: 'Imported', tempo: 77, sections: 'V:8' }] });
        $('importText').click();
    };
    importing({});
    check(routed('Pad', 5) && $('songs').children.length === 3, 'a file without routing keeps the routing');
    importing({ rig: { deviceUid: 'jack:system', devices: { 'jack:system': { click: [3], guide: [4], pad: [7] } } } });
    check(/^system · 8 outputs$/.test($('deviceSummary').textContent) && routed('Pad', 7) && !routed('Pad', 5),
        `a file with routing brings it: ${$('deviceSummary').textContent}`);
    await until(() => mock.library().songs.length === 4 && mock.library().control.midiInput === 'USB MIDI Pedal',
        'the pedals stay in the library through its saves');
});
