// Opened without the native bridge: the page says so, plays nothing, and everything else works,
// including sections editing, the set list and its import and export.
run(async () => {
    const stored = () => JSON.parse(localStorage.getItem('cadenzo.setlist.v1'));
    check(
        !(window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.nativeAudio),
        'no bridge in this window',
    );
    check(/Browser preview/.test($('bridgeState').textContent), 'the header says there is no audio');
    check(!$('alert').hidden && /no audio engine here/.test($('alertText').textContent), 'an alert explains it');
    check($('playButton').getAttribute('aria-disabled') === 'true', 'Play looks unavailable');
    press(' ');
    check(/ordinary browser/.test($('alertText').textContent), 'Play says why nothing sounds');
    check($('transport').dataset.phase === 'stopped', 'and stays stopped');

    // Sections as text, read as the player reads them.
    type('sectionsText', 'In:2,V:4.5,Ch:4');
    check($('sectionRows').children.length === 2, 'readable pieces become rows');
    check($('sectionsText').value === 'In:2,Ch:4', 'the text shows what was kept');
    check(/Not read: "V:4\.5"/.test($('statusLine').textContent), 'the unreadable piece is named');
    document.querySelector('[data-add="Br"]').click();
    check($('sectionsText').value === 'In:2,Ch:4,Br:4', 'quick add appends a section');
    byLabel('Move section 3 up').click();
    check($('sectionsText').value === 'In:2,Br:4,Ch:4', 'a section moves up');
    byLabel('Remove section 1').click();
    check($('sectionsText').value === 'Br:4,Ch:4', 'a section is removed');
    $('statusLine').querySelector('button').click();
    check($('sectionsText').value === 'In:2,Br:4,Ch:4', 'Undo brings it back');
    check(
        [...$('startSection').options].map((o) => o.textContent).join('|') === 'Beginning, with count-in|2. Br|3. Ch',
        'start sections follow the sections',
    );

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
    const tapped = Number($('tempo').value);
    check(tapped >= 110 && tapped <= 130, `tapped tempo near 120: ${tapped}`);

    // The set list: new, step through, delete and undo.
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
    check(
        $('songs').children[0].textContent.includes('Second') && stored().songs[0].title === 'Second',
        'a song moves up and is saved',
    );

    // Export shows the list; a bad file changes nothing; a good one is added.
    $('openTransfer').click();
    check($('transfer').open, 'the import and export dialog opens');
    const exported = JSON.parse($('transferText').value);
    check(
        exported.format === 'cadenzo-setlist' && exported.songs.length === 2 && exported.songs[0].title === 'Second',
        'the export holds the set list',
    );
    $('transferText').value =
        '{"format": "cadenzo-setlist", "version": 1, "songs": [{"title": "Bad", "tempo": 999, "sections": []}]}';
    $('importText').click();
    check(
        /Song 1 "Bad" needs a tempo/.test($('transferMessage').textContent) &&
            /Nothing was imported/.test($('transferMessage').textContent),
        `a bad file is refused: ${$('transferMessage').textContent}`,
    );
    check($('songs').children.length === 2 && stored().songs.length === 2, 'nothing was lost or added');
    $('transferText').value = JSON.stringify({
        format: 'cadenzo-setlist',
        version: 1,
        songs: [{ title: 'Imported', tempo: 77, sections: 'V:8' }],
    });
    $('importText').click();
    check(/Added 1 song/.test($('transferMessage').textContent), 'a good file is added');
    check(
        $('songs').children.length === 3 && $('songTitle').value === 'Imported' && stored().songs.length === 3,
        'the imported song is selected and saved',
    );
    $('closeTransfer').click();

    // Tabs answer the arrow keys.
    $('tab-song').focus();
    $('tab-song').dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowRight', bubbles: true }));
    check(!$('panel-pad').hidden && document.activeElement === $('tab-pad'), 'ArrowRight moves to the next tab');
});
