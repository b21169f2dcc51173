// The bundled page on the real bridge, started three times over one library folder (STEP, set by web_host.sh):
// a new library where a set list is built; the same set list found again; a broken file kept aside and said so.
run(async () => {
    const songs = () => [...$('songs').children].map((row) => row.textContent).join('|');
    await until(() => /←Read library/.test($('log').textContent), 'the library is read', 10000);
    if (STEP === 'build') {
        check($('songs').children.length === 1, 'a fresh set list');
        type('songTitle', 'Opener');
        $('newSong').click();
        type('songTitle', 'Encore');
        await until(() => /Opener.*Encore/.test(songs()), 'the set list', 10000);
        // The page saves a moment after the last change; the scenario cannot see the file, the script checks it.
        await sleep(2000);
        check(!/could not be saved/.test($('alertText').textContent), 'no failed save');
    } else if (STEP === 'find') {
        await until(() => /Opener.*Encore/.test(songs()), `the set list is back (${songs()})`, 10000);
    } else {
        await until(() => /could not be read.*kept as .*library\.json\.unreadable-/.test($('alertText').textContent),
            'the broken file is reported', 10000);
        check(/Opener.*Encore/.test(songs()), `the version before is offered (${songs()})`);
    }
});
