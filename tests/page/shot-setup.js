// Screenshot scenes (see take-screenshots): a rehearsed song on an 18-output interface.
async function showcase() {
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    $('tab-outputs').click();
    [...document.querySelectorAll('#devices .device')].find((d) => /Scarlett/.test(d.textContent)).click();
    byLabel('Pad on output 3').click();
    byLabel('Pad on output 4').click();
    $('tab-song').click();
    type('songTitle', 'Hold On Tonight');
    type('tempo', '132');
    type('sectionsText', 'In:2,V:4,Pre:2,Ch:4,V2:4,Ch:4,Br:2,Ch:4,Out:2');
    type('padKey', 'Bb');
    type(
        'padChart',
        '1 4 |\n1 5 6- 4 |\n2- 4 |\n1 5/7 6- 4 |\n1 5 6- 4 |\n1 5/7 6- 4 |\n2-7 4maj7 |\n1 5/7 6- b7 |\n1 %',
    );
    for (const [title, tempo] of [
        ['Run To You', '118'],
        ['Slow Burn', '72'],
        ['Last Call', '140'],
    ]) {
        $('newSong').click();
        type('songTitle', title);
        type('tempo', tempo);
    }
    for (const button of [...$('songs').querySelectorAll('button')]) {
        if (/Hold On Tonight/.test(button.textContent)) button.click();
    }
}
