// Opened without the native bridge: the page says so, plays nothing, and everything else works,
// including sections editing, the set list and its import and export.
run(async () => {
    const stored = () => JSON.parse(localStorage.getItem('cadenzo.setlist.v1'));
    const status = () => $('statusLine').textContent;
    check(!window.webkit?.messageHandlers?.nativeAudio, 'no bridge in this window');
    check(/Browser preview/.test($('bridgeState').textContent), 'the header says there is no audio');
    check(!$('alert').hidden && /no audio engine here/.test($('alertText').textContent), 'an alert explains it');
    check($('playButton').getAttribute('aria-disabled') === 'true', 'Play looks unavailable');
    press(' ');
    check(/ordinary browser/.test($('alertText').textContent) && $('transport').dataset.phase === 'stopped',
        'Play says why nothing sounds, and nothing plays');

    // Sections as text, read as the player reads them, and edited as rows.
    type('sectionsText', 'In:2,V:4.5,Ch:4');
    check($('sectionRows').children.length === 2 && $('sectionsText').value === 'In:2,Ch:4', 'readable pieces kept');
    check(/Not read: "V:4\.5"/.test(status()), 'the unreadable piece is named');
    const edits = [[() => document.querySelector('[data-add="Br"]').click(), 'In:2,Ch:4,Br:4', 'quick add appends'],
        [() => byLabel('Move section 3 up').click(), 'In:2,Br:4,Ch:4', 'a section moves up'],
        [() => byLabel('Remove section 1').click(), 'Br:4,Ch:4', 'a section is removed'],
        [() => $('statusLine').querySelector('button').click(), 'In:2,Br:4,Ch:4', 'Undo brings it back']];
    for (const [edit, text, what] of edits) {
        edit();
        check($('sectionsText').value === text, `${what}: ${$('sectionsText').value}`);
    }
    const starts = [...$('startSection').options].map((o) => o.textContent).join('|');
    check(starts === 'Beginning, with count-in|2. Br|3. Ch', `start sections follow the sections: ${starts}`);

    // An invalid number holds Play back until fixed, then the old value returns.
    const bars = byLabel('Bars of section 2');
    bars.value = '2.5';
    bars.dispatchEvent(new Event('input', { bubbles: true }));
    check(bars.getAttribute('aria-invalid') === 'true', 'the field shows it is wrong');
    check(/bars must be a whole number/.test($('songProblems').textContent), 'the problem is listed');
    bars.dispatchEvent(new Event('change', { bubbles: true }));
    check(byLabel('Bars of section 2').value === '4' && $('songProblems').textContent === '', 'the kept value returns');

    // Tempo by tapping: the T key four times at 120 bpm.
    for (let i = 0; i < 4; i++) {
        press('t');
        if (i < 3) await sleep(500);
    }
    check(Math.abs(Number($('tempo').value) - 120) <= 10, `tapped tempo near 120: ${$('tempo').value}`);

    // The set list: new, step through, delete and undo, move; each change saved.
    $('newSong').click();
    type('songTitle', 'Second');
    check($('songs').children.length === 2 && stored().songs.length === 2, 'a new song is added and saved');
    press('PageUp');
    check($('songTitle').value === 'New song', 'PageUp selects the song before');
    press('PageDown');
    check($('songTitle').value === 'Second', 'PageDown the song after');
    $('deleteSong').click();
    check($('songs').children.length === 1, 'delete removes the song');
    $('statusLine').querySelector('button').click();
    check($('songs').children.length === 2 && $('songTitle').value === 'Second', 'Undo restores it');
    $('songUp').click();
    check(stored().songs[0].title === 'Second' && /Second/.test($('songs').children[0].textContent), 'moved, saved');

    // Export shows the list; a bad file changes nothing; a good one is added and selected.
    $('openTransfer').click();
    const exported = JSON.parse($('transferText').value);
    check($('transfer').open && exported.format === 'cadenzo-setlist' && exported.songs[0].title === 'Second' &&
        exported.songs.length === 2, 'the export holds the set list');
    const importing = (songs) => {
        $('transferText').value = JSON.stringify({ format: 'cadenzo-setlist', version: 1, songs });
        $('importText').click();
        return $('transferMessage').textContent;
    };
    const refused = importing([{ title: 'Bad', tempo: 999, sections: [] }]);
    check(/Song 1 "Bad" needs a tempo.*Nothing was imported/.test(refused), `a bad file is refused: ${refused}`);
    check($('songs').children.length === 2 && stored().songs.length === 2, 'nothing was lost or added');
    check(/Added 1 song/.test(importing([{ title: 'Imported', tempo: 77, sections: 'V:8' }])), 'a good file is added');
    check($('songs').children.length === 3 && $('songTitle').value === 'Imported' && stored().songs.length === 3,
        'the imported song is selected and saved');
    $('closeTransfer').click();

    $('tab-song').focus();
    $('tab-song').dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowRight', bubbles: true }));
    check(!$('panel-pad').hidden && document.activeElement === $('tab-pad'), 'ArrowRight moves to the next tab');
});
