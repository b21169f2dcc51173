// Foot switches and tablets: each control message does what the page's own key or strip does, with the focus
// in a text field, and one that cannot be done now does nothing and says why in the log.
run(async () => {
    const phase = () => $('transport').dataset.phase;
    await until(() => document.querySelectorAll('#devices .device').length === 3, 'the interfaces are listed');
    mock.options.totalDuration = 120;
    for (const [id, value] of [['songTitle', 'First'], ['sectionsText', 'In:4,V:2,Ch:2'], ['countInBars', '0']])
        type(id, value);
    $('newSong').click();
    type('songTitle', 'Second');
    $('songTitle').focus();

    const PLAYER = ['stopSong', 'playSong', 'jumpToSection', 'setVamp', 'setGuideMuted'];
    const essentials = ({ type, title, section, at, on, muted }) => JSON.parse(JSON.stringify({ type, title, section, at, on,
        muted }));
    const shown = () => `${$('log').children[0].querySelector('.what').textContent} / ${$('statusLine').textContent}`;
    const steps = [ // message, the requests it sends, the song selected after it, what the log or status line says
        [{ action: 'previous' }, [], 'First', /^previous \//],
        [{ action: 'previous' }, [], 'First', /^previous: not done, the first song of the set list is selected/],
        [{ action: 'play' }, [{ type: 'stopSong' }, { type: 'playSong', title: 'First' }], 'First',
            /^3 sections, 120 bpm/],
        [{ action: 'play' }, [], 'First', /^play: not done, a song is already playing/],
        [{ action: 'nextSection' }, [{ type: 'jumpToSection', section: 1, at: 'bar' }], 'First', /V at the next bar/],
        [{ action: 'section', section: 3 }, [{ type: 'jumpToSection', section: 2, at: 'bar' }], 'First', /Ch at the/],
        [{ action: 'section', section: 4 }, [], 'First', /^section 4: not done, the song has 3 sections/],
        [{ action: 'vamp' }, [{ type: 'setVamp', on: true }], 'First', /^on ·/],
        [{ action: 'vamp', on: false }, [{ type: 'setVamp', on: false }], 'First', /^off ·/],
        [{ action: 'cues' }, [{ type: 'setGuideMuted', muted: true }], 'First', /Spoken cues are off/],
        [{ action: 'cues', on: true }, [{ type: 'setGuideMuted', muted: false }], 'First', /Spoken cues are on/],
        [{ action: 'tap' }, [], 'First', /^tap \/ Keep tapping the beat/],
        [{ action: 'next' }, [], 'Second', /^next \//],
        [{ action: 'next' }, [], 'Second', /^next: not done, the last song of the set list is selected/],
        [{ action: 'stop' }, [{ type: 'stopSong' }], 'Second', /^#\d+ \//],
        [{ action: 'stop' }, [], 'Second', /^stop: not done, nothing is playing/],
        [{ action: 'vamp', on: true }, [], 'Second', /^vamp on: not done, nothing is playing/],
        [{ action: 'playStop' }, [{ type: 'playSong', title: 'Second' }], 'Second', /^4 sections, 120 bpm/],
    ];
    for (const [message, requests, selected, said] of steps) {
        const before = mock.received.length;
        mock.deliver({ type: 'control', ...message });
        const sent = mock.received.slice(before).filter((body) => PLAYER.includes(body.type)).map(essentials);
        const what = `${canonical(message)}: ${canonical(sent)}, ${$('songTitle').value}, ${shown()}`;
        check(sameData(sent, requests) && $('songTitle').value === selected && said.test(shown()), what);
        await until(() => phase() !== 'starting', `${canonical(message)} leaves the song started`);
    }
    check(document.activeElement === $('songTitle') && $('songTitle').value === 'Second',
        'the focus and the text stay');

    // With a dialog in front, too.
    $('openTransfer').click();
    const stops = sentOfType('stopSong').length;
    mock.deliver({ type: 'control', action: 'playStop' });
    check(sentOfType('stopSong').length === stops + 1 && phase() === 'stopped', 'Play/stop works behind the dialog');
});
