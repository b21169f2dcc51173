// The song of song-model.json (SONG, set by web_host.sh) on the real bridge: the intro vamped from its first
// bar, then, in its second pass, a jump to the verse at the end of the pass.
run(async () => {
    const post = (body) => window.webkit.messageHandlers.nativeAudio.postMessage(body);
    post({ ...SONG, type: 'playSong', requestId: 'play', deviceNameContains: 'system' });
    await sleep(3000);  // in the intro's first bar (2-4 s)
    post({ type: 'setVamp', on: true, requestId: 'vamp' });
    await sleep(4000);  // in the second pass's first bar (6-8 s)
    post({ type: 'jumpToSection', section: 1, at: 'section', requestId: 'jump' });
    await sleep(18500);  // the song ends at 23.8 s and its player two seconds later
});
