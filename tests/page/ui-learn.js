// Learning pedals in the Control tab: the program's status and the mappings in use; a learned press is bound to
// its row alone, sent, and kept in the library; Escape or a second click cancels; a failure is shown there.
run(async () => {
    const row = (words) => [...$('mappingRows').children].find((tr) => tr.cells[0].textContent === words);
    const pedal = (words) => row(words).cells[1].textContent;
    const learn = (words) => byLabel(`Learn the pedal for ${words}`).click();
    const kept = () => mock.library()?.control?.midiMappings;
    const defaults = mock.control.mappings;
    await until(() => $('midiStatus').textContent === 'MIDI control: "CadenzoPlayer control" on JACK', 'MIDI status');
    $('tab-control').click();
    check($('oscStatus').textContent === 'OSC control: udp 127.0.0.1:9000 · 0 received, 0 dropped' &&
        pedal('Play/stop (as Space)') === 'CC 80 (any channel)' && pedal('Play') === '—', 'the status and mappings');
    check(sentOfType('setMidiMappings').length === 0 && !mock.library(), 'the defaults are shown, not written');

    learn('Play');
    check(pedal('Play') === 'Press a pedal…' && sentOfType('learnMidi').length === 1, 'a learn waits for a press');
    mock.pressPedal({ kind: 'cc', channel: 1, number: 80 });
    const learned = [...defaults.slice(1), { kind: 'cc', channel: 1, number: 80, action: 'play' }];
    await until(() => pedal('Play') === 'CC 80 ch 1', 'the press is bound');
    check(pedal('Play/stop (as Space)') === '—' && sameData(sentOfType('setMidiMappings')[0].mappings, learned),
        'the same press leaves its other row, and the mappings are sent');
    await until(() => sameData(kept(), learned), 'the library keeps the mappings');

    learn('Tap tempo');
    press('Escape');
    check(sentOfType('learnMidi').at(-1).cancel === true && pedal('Tap tempo') === '—', 'Escape cancels the learn');
    learn('Stop'), learn('Stop');
    check(sentOfType('learnMidi').at(-1).cancel === true && pedal('Stop') === '—', 'so does a second click');
    check(sentOfType('stopSong').length === 0 && $('controlProblems').textContent === '', 'nothing stops or fails');

    type('sectionNumber', '7');
    $('learnSection').click();
    mock.pressPedal({ kind: 'note', channel: 10, number: 36 });
    await until(() => row('Section 7')?.cells[1].textContent === 'Note 36 ch 10', 'a section jump by its number');

    $('midiInput').value = 'USB MIDI Pedal';
    $('midiInput').dispatchEvent(new Event('change'));
    await until(() => mock.control.midi.input === 'USB MIDI Pedal' && mock.library().control.midiInput ===
        'USB MIDI Pedal', 'the chosen input is connected and kept');

    mock.options.errors.setMidiMappings = 'Mapping 2: channel must be 0 (any) to 16';
    $('restoreMappings').click();
    await until(() => /the pedal mappings \(they are kept\): Mapping 2: channel must be 0 \(any\) to 16$/.test(
        $('controlProblems').textContent), `the failure is shown: ${$('controlProblems').textContent}`);
    await until(() => sameData(kept(), defaults) && pedal('Play') === '—', 'defaults kept');
    check($('alert').hidden, 'no alert');
});
