// First run, from a saved set list that cannot be read (bad-storage.js): it is kept aside, the musician
// is told, a fresh list starts; then choices that must survive a restart of the program.
run(async () => {
    check(/saved set list could not be read/.test($('alertText').textContent), `told: ${$('alertText').textContent}`);
    check(localStorage.getItem('cadenzo.setlist.unreadable') === BAD_SET_LIST, 'the unreadable text is kept');
    check($('songs').children.length === 1 && $('songTitle').value === 'New song', 'a fresh set list starts');
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    [...document.querySelectorAll('#devices .device')].find((d) => /Scarlett/.test(d.textContent)).click();
    byLabel('Pad on output 5').click();
    for (const [id, value] of [['songTitle', 'Encore'], ['padKey', 'E']]) type(id, value);
    $('newSong').click();
    type('songTitle', 'Opener');
    $('songUp').click();
    type('totalChannels', '12');
});
