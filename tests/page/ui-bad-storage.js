// A saved set list that cannot be read is kept aside, said so, and the page starts afresh.
run(async () => {
    check(
        /saved set list could not be read/.test($('alertText').textContent),
        `the musician is told: ${$('alertText').textContent}`,
    );
    check(
        localStorage.getItem('cadenzo.setlist.unreadable') ===
            '{"format": "cadenzo-setlist", "version": 1, "songs": [{"title": 5}]}',
        'the unreadable text is kept',
    );
    check($('songs').children.length === 1 && $('songTitle').value === 'New song', 'a fresh set list starts');
});
