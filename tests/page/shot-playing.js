run(async () => {
    await showcase();
    $('tab-pad').click();
    $('playButton').click();
    await sleep(9300);
});
