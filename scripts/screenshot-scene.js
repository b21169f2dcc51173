// The scene of the README picture: a song with a pad playing on the JACK dummy device.
// Ends (the probe exits) a while after the picture has been taken.
run(async () => {
    await until(() => /system · 8 outputs/.test($('deviceSummary').textContent), 'the JACK device is chosen', 10000);
    $('tab-song').click();
    type('songTitle', 'Hold On Tonight');
    type('sectionsText', 'In:2,V:4,Pre:2,Ch:4,V:4,Ch:4,Out:2');
    type('tempo', '132');
    $('tab-outputs').click();
    for (const [name, output] of [['Click', 5], ['Cues', 7], ['Pad', 3]]) {
        for (let c = 1; c <= 8; c++) {
            const box = byLabel(`${name} on output ${c}`);
            if (box.checked !== (c === output)) box.click();
        }
    }
    $('tab-pad').click();
    type('padKey', 'Bb');
    type('padChart', '1 4 | 1 5 6- 4 | 2- 4 | 1 5 6- 4 | 1 5 6- 4 1 5 6- 4 | 1 4');
    $('playButton').click();
    await until(() => $('stateLabel').textContent === 'Playing', 'the song plays', 15000);
    await sleep(15000);
    $('playButton').click();
});
