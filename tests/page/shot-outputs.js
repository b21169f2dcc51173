run(async () => {
    await showcase();
    $('tab-outputs').click();
    byLabel('Test tone on output 3').click();
    await sleep(200);
});
