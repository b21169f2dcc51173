run(async () => {
    await showcase();
    type('sectionsText', 'In:2,V:4,Pre:2,Ch:4,V2:4,Ch:4,Br:2,Ch:4,Out:2,Tag:x');
    $('startSection').value = '3';
    $('startSection').dispatchEvent(new Event('change', { bubbles: true }));
});
