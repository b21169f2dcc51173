// Before the page runs: a saved set list that the page cannot read.
const BAD_SET_LIST = '{"format": "cadenzo-setlist", "version": 1, "songs": [{"title": 5}]}';
localStorage.setItem('cadenzo.setlist.v1', BAD_SET_LIST);
