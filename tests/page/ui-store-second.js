// Second run on the same storage: the set list, the interface and the routing are as they were left.
run(async () => {
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    check(/Scarlett 18i20 USB/.test($('deviceSummary').textContent), `interface: ${$('deviceSummary').textContent}`);
    check(byLabel('Pad on output 5').checked && byLabel('Click on output 1').checked &&
        !byLabel('Pad on output 1').checked, 'the routing is remembered');
    check($('totalChannels').value === '12', 'the outputs in use are remembered');
    const titles = [...$('songs').querySelectorAll('.t')].map((t) => t.textContent).join('|');
    check(titles === 'Opener|Encore' && $('songTitle').value === 'Opener', `the set list and song: ${titles}`);
    press('PageDown');
    check($('padKey').value === 'E', 'each song keeps its pad key');
    check($('alert').hidden, 'nothing to warn about');
});
