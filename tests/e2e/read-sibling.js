// The bundled page may read the files beside it.
(async () => {
    const result = { page: location.href };
    try {
        const response = await fetch('GuideSounds/Bridge.wav');
        const bytes = new Uint8Array(await response.arrayBuffer());
        result.bytes = bytes.length;
        result.riff = String.fromCharCode(...bytes.slice(0, 4));
    } catch (error) {
        result.error = String(error);
    }
    result.ok = result.riff === 'RIFF' && /\/CadenzoPlayer_CadenzoPlayer\.bundle\/bridge-test\.html$/.test(result.page);
    window.__probeResult = result;
})();
