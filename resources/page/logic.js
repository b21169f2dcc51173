// Everything of the page that does not touch the document: what musicians type, the song's layout and the
// position in it, chord symbols, the checks before playing, the requests and replies, the transport's state,
// the set list and library files, and the pedal mappings. Tested alone under Node.
export * from './sections.js';
export * from './chords.js';
export * from './checks.js';
export * from './protocol.js';
export * from './transport-state.js';
export * from './setlist.js';
export * from './library.js';
export * from './control.js';
