// Which files the bundled page reads, with fetch and with a synchronous request: itself, a cue in the folder
// below it, a file beside its folder whose name begins alike, and one elsewhere.
(async () => {
    const files = ['bridge-test.html', 'GuideSounds/End.wav', '../CadenzoPlayer_CadenzoPlayer.bundle.txt', 'file:///etc/passwd'];
    const request = (file) => {
        const xhr = new XMLHttpRequest();
        xhr.open('GET', file, false);
        try { xhr.send(); } catch { return false; }
        return xhr.responseText.length > 0;
    };
    const read = (file) => fetch(file).then((response) => response.text()).then((text) => text.length > 0, () => false);
    const result = {fetch: await Promise.all(files.map(read)), request: files.map(request)};
    const expected = JSON.stringify([true, true, false, false]);
    window.__probeResult = {ok: JSON.stringify(result.fetch) === expected && JSON.stringify(result.request) === expected,
        ...result};
})();
