// Opened without the native bridge: the page says so, plays nothing, and everything else works,
// including sections editing, the set list and its import and export.
run(async () => {
    check(!window.webkit?.messageHandlers?.nativeAudio, 'no bridge in this window');
    check(/Browser preview/.test($('bridgeState').textContent), 'the header says there is no audio');
    check(!$('alert').hidden && /no audio engine here/.test($('alertText').textContent), 'an alert explains it');
    check($('playButton').getAttribute('aria-disabled') === 'true', 'Play looks unavailable');
    press(' ');
    check(/ordinary browser/.test($('alertText').textContent) && $('transport').dataset.phase === 'stopped',
        'Play says why nothing sounds, and nothing plays');

    // Sections as text, read as the player reads them, and edited as rows.
    type('sectionsText', 'In:2,V:4.5,Ch:4');
    check($('sectionRows').children.length === 2 && /Not read: "V:4\.5"/.test($('statusLine').textContent),
        'readable pieces become rows; the unreadable one is named');
    const undo = () => $('statusLine').querySelector('button').click();
    const edits = [[() => {}, 'In:2,Ch:4'], [() => document.querySelector('[data-add="Br"]').click(), 'In:2,Ch:4,Br:4'],
        [() => byLabel('Move section 3 up').click(), 'In:2,Br:4,Ch:4'], [() => byLabel('Remove section 1').click(),
            'Br:4,Ch:4'], [undo, 'In:2,Br:4,Ch:4']];
    for (const [edit, text] of edits) {
        edit();
        check($('sectionsText').value === text, `sections ${text}: ${$('sectionsText').value}`);
    }
    const starts = [...$('startSection').options].map((o) => o.textContent).join('|');
    check(starts === 'Beginning, with count-in|2. Br|3. Ch', `start sections follow the sections: ${starts}`);

    // An invalid number holds Play back until fixed, then the old value returns.
    const bars = byLabel('Bars of section 2');
    bars.value = '2.5';
    bars.dispatchEvent(new Event('input', { bubbles: true }));
    check(bars.getAttribute('aria-invalid') === 'true' && /bars must be a whole number/.test($('songProblems')
        .textContent), 'the field shows it is wrong and the problem is listed');
    bars.dispatchEvent(new Event('change', { bubbles: true }));
    check(byLabel('Bars of section 2').value === '4' && $('songProblems').textContent === '', 'the kept value returns');

    // Tempo by tapping: the T key four times about 120 bpm; the tempo is the taps' own (a loaded machine stretches
    // the pauses).
    const taps = [];
    for (const pause of [500, 500, 500, 0]) taps.push(performance.now()), press('t'), await sleep(pause);
    const tapped = 60000 / ((taps[3] - taps[0]) / 3);
    check(Math.abs(Number($('tempo').value) - tapped) <= 2, `tapped tempo near ${tapped}: ${$('tempo').value}`);

    // The set list: each change shown and saved.
    const songs = () => [...$('songs').children].map((s) => s.querySelector('.t').textContent).join('|');
    const saved = () => JSON.parse(localStorage.getItem('cadenzo.setlist.v1')).songs.map((s) => s.title).join('|');
    const steps = [[() => { $('newSong').click(); type('songTitle', 'Second'); }, 'New song|Second', 'Second'],
        [() => press('PageUp'), 'New song|Second', 'New song'], [() => press('PageDown'), 'New song|Second', 'Second'],
        [() => $('deleteSong').click(), 'New song', 'New song'], [undo, 'New song|Second', 'Second'],
        [() => $('songUp').click(), 'Second|New song', 'Second']];
    for (const [step, list, selected] of steps) {
        step();
        check(songs() === list && saved() === list && $('songTitle').value === selected, `${list}, ${selected}`);
    }

    // Export shows the list; a bad file changes nothing; a good one is added and selected.
    $('openTransfer').click();
    const exported = JSON.parse($('transferText').value);
    check($('transfer').open && exported.format === 'cadenzo-setlist' &&
        exported.songs.map((s) => s.title).join('|') === 'Second|New song', 'the export holds the set list');
    const importing = (list) => {
        $('transferText').value = JSON.stringify({ format: 'cadenzo-setlist', version: 1, songs: list });
        $('importText').click();
        return $('transferMessage').textContent;
    };
    const refused = importing([{ title: 'Bad', tempo: 999, sections: [] }]);
    check(/Song 1 "Bad" needs a tempo.*Nothing was imported/.test(refused) && saved() === 'Second|New song',
        `a bad file is refused and changes nothing: ${refused}`);
    check(/Added 1 song/.test(importing([{ title: 'Imported', tempo: 77, sections: 'V:8' }])), 'a good file is added');
    check(saved() === 'Second|New song|Imported' && $('songTitle').value === 'Imported', 'selected and saved');
    $('closeTransfer').click();

    $('tab-song').focus();
    $('tab-song').dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowRight', bubbles: true }));
    check(!$('panel-pad').hidden && document.activeElement === $('tab-pad'), 'ArrowRight moves to the next tab');
});
