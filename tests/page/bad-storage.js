// Before the page runs: what an earlier page left in local storage, a set list it cannot read and a routing.
const BAD_SET_LIST = '{"format": "cadenzo-setlist", "version": 1, "songs": [{"title": 5}]}';
localStorage.setItem('cadenzo.setlist.v1', BAD_SET_LIST);
localStorage.setItem('cadenzo.rig.v1', JSON.stringify({ deviceUid: 'alsa:hw:CARD=USB,DEV=0',
    deviceName: 'Scarlett 18i20 USB', deviceChannels: 18, click: [1], guide: [1, 2], pad: [5], totalChannels: null }));
