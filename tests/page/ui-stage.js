// Readable on a stage at the default 900 by 700: no type below 14 px on any tab, at least 10 songs of a set
// list of 20 in view, and no segment of the section strip or tab cut short.
run(async () => {
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    const song = (n) => ({ title: `Song number ${n} with a long title`, tempo: 90 + n, padKey: 'Bb', chart: '1 4 5/7 6-',
        countInBars: 1, sections: 'In:4,V:16,Pre:4,Ch:16,V:16,Pre:4,Ch:16,Br:8,Solo:16,Ch:16,Ch:16,Out:4' });
    $('transferText').value = JSON.stringify({ format: 'cadenzo-setlist', version: 1,
        songs: Array.from({ length: 19 }, (_, i) => song(i + 2)) });
    $('importText').click();
    $('songs').scrollTop = 0;
    check(innerWidth === 900 && innerHeight === 700 && $('songs').children.length === 20, 'a list of 20 at 900x700');

    const list = $('songs').getBoundingClientRect();
    const shown = [...$('songs').children].filter((row) => {
        const box = row.getBoundingClientRect();
        return box.top >= list.top && box.bottom <= list.bottom;
    });
    check(shown.length >= 10, `${shown.length} songs fully in view`);

    const cut = [...document.querySelectorAll('#sectionStrip button, .tabs button, .setlist button')]
        .filter((b) => b.scrollWidth > b.clientWidth).map((b) => b.textContent);
    check($('sectionStrip').children[0].textContent === 'Count' && cut.length === 0, `cut short: ${cut.join('|')}`);

    for (const tab of ['song', 'pad', 'outputs', 'control', 'log']) {
        $(`tab-${tab}`).click();
        const small = [];
        const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
        for (let node = walker.nextNode(); node; node = walker.nextNode()) {
            const box = node.parentElement;
            if (!node.textContent.trim() || box.getClientRects().length === 0) continue;
            const size = parseFloat(getComputedStyle(box).fontSize);
            if (size < 14) small.push(`${node.textContent.trim().slice(0, 20)} (${size}px)`);
        }
        check(small.length === 0, `${tab}: smaller than 14px: ${small.join(', ')}`);
    }
    check(parseFloat(getComputedStyle($('posTitle')).fontSize) > 30 && 
        parseFloat(getComputedStyle($('stateLabel')).fontSize) >= 16, 'the transport reads larger');
});
