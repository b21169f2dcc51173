// Before the page runs: a saved set list that the page cannot read.
localStorage.setItem('cadenzo.setlist.v1', '{"format": "cadenzo-setlist", "version": 1, "songs": [{"title": 5}]}');
