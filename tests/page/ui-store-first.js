// First run: choices that must survive a restart of the program.
run(async () => {
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    [...document.querySelectorAll('#devices .device')].find((d) => /Scarlett/.test(d.textContent)).click();
    byLabel('Pad on output 5').click();
    type('songTitle', 'Encore');
    type('padKey', 'E');
    $('newSong').click();
    type('songTitle', 'Opener');
    $('songUp').click();
    type('totalChannels', '12');
});
