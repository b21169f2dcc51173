// Drives the bundled control page through its own controls against the real bridge and
// a JACK dummy device: choose the song, the pad and the routing, play, mute the cues,
// stop, then play a test tone. The recording is checked by web_host.sh.
run(async () => {
    await until(() => /system · 8 outputs/.test($('deviceSummary').textContent), 'the JACK device is chosen', 10000);

    $('tab-song').click();
    type('sectionsText', 'In:1,V:2,Ch:1');
    type('tempo', '240');
    type('countInBars', '1');
    $('tab-pad').click();
    type('padKey', 'C');
    type('padChart', '1 4 5 1');
    $('tab-outputs').click();
    for (const [name, output] of [['Click', 5], ['Cues', 7], ['Pad', 3]]) {
        for (let c = 1; c <= 8; c++) {
            const box = byLabel(`${name} on output ${c}`);
            if (box.checked !== (c === output)) box.click();
        }
    }

    $('playButton').click();
    await until(() => $('stateLabel').textContent === 'Playing', 'the song plays', 15000);
    check($('total').textContent === '0:05', `the total comes from the reply (${$('total').textContent})`);
    await sleep(1500);
    $('guideButton').click();
    await until(() => $('guideState').textContent === 'Off', 'the cues are muted');
    await sleep(1000);
    check(/^0:0[23]$/.test($('elapsed').textContent), `the clock runs (${$('elapsed').textContent})`);
    $('playButton').click();
    await until(() => $('stateLabel').textContent === 'Stopped', 'the song stops');
    await sleep(2000);

    byLabel('Test tone on output 4').click();
    await until(() => /Output 4 played its test tone/.test($('statusLine').textContent), 'the tone is answered', 10000);
    check($('alert').hidden, `no error is shown (${$('alertText').textContent})`);
});
