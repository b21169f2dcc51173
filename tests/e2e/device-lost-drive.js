// The song's JACK server is killed while it plays and started again (jack_session.sh --restart-server):
// the page says so at once, and Play works again without restarting the program.
run(async () => {
    await until(() => /system · 8 outputs/.test($('deviceSummary').textContent), 'the JACK device is chosen', 10000);
    $('tab-song').click();
    type('sectionsText', 'In:40');
    $('playButton').click();
    await until(() => $('stateLabel').textContent === 'Playing', 'the song plays', 15000);
    await until(() => /"system" went away and the song stopped/.test($('alertText').textContent), 'the loss is told', 5000);
    check($('stateLabel').textContent === 'Stopped', `stopped (${$('stateLabel').textContent})`);
    // While the server is down a Play fails with a reason; once it is back the song plays.
    for (let tries = 0; tries < 50 && $('stateLabel').textContent !== 'Playing'; tries++) {
        if ($('stateLabel').textContent === 'Stopped') $('playButton').click();
        await sleep(300);
    }
    check($('stateLabel').textContent === 'Playing', `plays again (${$('alertText').textContent})`);
    $('playButton').click();
});
