import { LIMITS } from './checks.js';
import { TIME_TOLERANCE } from './sections.js';

// The section playing at `time` on the song's layout, or undefined in the count-in.
function sectionAt(layout, time) {
    return layout.sections.find((s) => s.startTime <= time + TIME_TOLERANCE && time + TIME_TOLERANCE < s.endTime);
}

// Where the player goes in the song is a list of moves: from `at` seconds of playing on, it plays the song from
// `songTime` on (a jump), and, with `loop`, repeats the section it is in (a vamp).
function songTimeIn(segments, layout, elapsed) {
    const segment = segments.filter((s) => s.at <= elapsed + TIME_TOLERANCE).pop() || segments[0];
    const time = segment.songTime + (elapsed - segment.at);
    const section = segment.loop ? sectionAt(layout, segment.songTime) : undefined;
    if (!section || time < section.endTime - TIME_TOLERANCE) return time;
    const length = section.endTime - section.startTime;
    const into = time - section.startTime;
    return section.startTime + into - Math.floor((into + TIME_TOLERANCE) / length) * length;
}

// ---- Transport ---------------------------------------------------------------------------------------------

// The page's view of the player. Every change returns the requests to send: a song that might still sound
// is stopped before the next one starts, and a song that starts after the musician pressed Stop is stopped
// again. Because that second stop would end any song started in the meantime, a new song waits until every
// start cancelled by Stop has answered (or has been given up).
export function createTransport() {
    const state = {
        phase: 'stopped',
        playId: null,
        startedAt: 0,
        totalDuration: 0,
        plan: null,
        songId: null,
        ended: false,
        guideMuted: false,
        sentGuideMuted: false,
        maySound: true,
        segments: [],
        vamp: false,
        controls: new Map(), // jumps and vamps sent, by requestId, applied once answered
        cancelled: new Set(),
        givenUp: new Set(),
        lastError: null,
    };
    const stopAction = (requestIds) => {
        state.maySound = false;
        return { type: 'stopSong', requestId: requestIds.stop() };
    };
    // A start waiting for cancelled ones goes out once none is left.
    const sendWaitingStart = (requestIds, actions) => {
        if (state.phase !== 'starting' || state.playId !== null || state.cancelled.size > 0) return;
        if (state.maySound) actions.push(stopAction(requestIds));
        state.playId = requestIds.play();
        state.sentGuideMuted = state.guideMuted;
        actions.push({ type: 'playSong', requestId: state.playId, guideMuted: state.guideMuted });
    };
    return {
        state,
        play(requestIds, now, plan, songId) {
            if (state.phase !== 'stopped') return [];
            Object.assign(state, { phase: 'starting', playId: null, plan, songId, ended: false, lastError: null });
            const actions = [];
            sendWaitingStart(requestIds, actions);
            return actions;
        },
        stop(requestIds) {
            if (state.phase === 'starting' && state.playId !== null) state.cancelled.add(state.playId);
            state.phase = 'stopped';
            state.playId = null;
            return [stopAction(requestIds)];
        },
        playReplied(result, now, requestIds) {
            const actions = [];
            const id = result.requestId;
            if (state.cancelled.has(id) || state.givenUp.has(id)) {
                state.cancelled.delete(id);
                state.givenUp.delete(id);
                if (result.ok === true) actions.push(stopAction(requestIds));
                sendWaitingStart(requestIds, actions);
                return actions;
            }
            if (state.phase !== 'starting' || id !== state.playId) return actions;
            state.playId = null;
            if (result.ok === true) {
                state.phase = 'playing';
                state.maySound = true;
                state.startedAt = now;
                state.segments = [{ at: 0, songTime: state.plan.layout ? state.plan.offset : 0, loop: false }];
                state.vamp = false;
                state.controls.clear();
                state.totalDuration = Number.isFinite(result.totalDuration)
                    ? result.totalDuration
                    : state.plan.totalDuration;
                // The song started with the cues as they were when it went out; changed since, they follow.
                if (state.guideMuted !== state.sentGuideMuted) {
                    actions.push({ type: 'setGuideMuted', requestId: requestIds.mute(), muted: state.guideMuted });
                }
            } else {
                state.phase = 'stopped';
                state.lastError = result.error;
            }
            return actions;
        },
        // The engine cut the song itself; true when one was playing.
        deviceLost() {
            if (state.phase !== 'playing') return false;
            Object.assign(state, { phase: 'stopped', maySound: false, lastError: 'deviceLost' });
            return true;
        },
        // A start whose answer is overdue is given up; should it still start, it is stopped.
        playTimedOut(requestId, requestIds) {
            const actions = [];
            if (state.phase === 'starting' && state.playId === requestId) {
                state.givenUp.add(requestId);
                state.phase = 'stopped';
                state.playId = null;
                return { stopped: true, actions };
            }
            if (state.cancelled.delete(requestId)) {
                state.givenUp.add(requestId);
                sendWaitingStart(requestIds, actions);
            }
            return { stopped: false, actions };
        },
        elapsed(now) {
            return state.phase === 'playing' ? (now - state.startedAt) / 1000 : 0;
        },
        songTime(elapsed) {
            return songTimeIn(state.segments, state.plan.layout, elapsed);
        },
        // When the song will be over, in seconds of playing: never while it vamps.
        endsAt() {
            const last = state.segments[state.segments.length - 1];
            if (!last || !state.plan.layout) return state.totalDuration;
            // A vamp in the count-in has no section to repeat.
            if (last.loop && sectionAt(state.plan.layout, last.songTime)) return Infinity;
            return last.at + (state.plan.offset + state.totalDuration - last.songTime);
        },
        // Clicking a section while playing: there at the next bar line, or at the end of the section playing.
        jump(requestIds, now, section, at) {
            if (state.phase !== 'playing') return [];
            const requestId = requestIds.jump();
            state.controls.set(requestId, { kind: 'jump', section, at, elapsed: this.elapsed(now) });
            return [{ type: 'jumpToSection', requestId, section, at }];
        },
        setVamp(requestIds, now, on) {
            if (state.phase !== 'playing') return [];
            const requestId = requestIds.vamp();
            state.controls.set(requestId, { kind: 'vamp', on, elapsed: this.elapsed(now) });
            return [{ type: 'setVamp', requestId, on }];
        },
        // The player took the jump or the vamp at the moment it was sent; the page's position follows it.
        controlReplied(result) {
            const control = state.controls.get(result.requestId);
            state.controls.delete(result.requestId);
            if (!control || result.ok !== true || state.phase !== 'playing') return;
            const layout = state.plan.layout;
            const e0 = control.elapsed;
            const s0 = this.songTime(e0);
            const future = state.segments.filter((s) => s.at > e0);
            if (control.kind === 'vamp') {
                state.vamp = control.on;
                for (const s of future) s.loop = control.on;
                state.segments = [...state.segments.filter((s) => s.at <= e0), { at: e0, songTime: s0, loop: control.on },
                    ...future];
                return;
            }
            const playing = sectionAt(layout, s0);
            const bar = layout.bars.find((b) => b.start > s0 + TIME_TOLERANCE);
            const boundary = control.at === 'section' ? (playing ? playing.endTime : layout.countInEnd)
                : bar ? bar.start : layout.songEnd;
            const target = layout.sections[control.section];
            if (!target) return;
            // A later jump replaces one still waiting for its bar line.
            state.segments = [...state.segments.filter((s) => s.at <= e0 + boundary - s0),
                { at: e0 + boundary - s0, songTime: target.startTime, loop: state.vamp }];
        },
        tick(now) {
            if (state.phase === 'playing' && this.elapsed(now) >= this.endsAt()) {
                state.phase = 'stopped';
                state.ended = true;
                return true;
            }
            return false;
        },
        setGuideMuted(muted, requestIds) {
            state.guideMuted = Boolean(muted);
            return [{ type: 'setGuideMuted', requestId: requestIds.mute(), muted: state.guideMuted }];
        },
    };
}

// ---- Tap tempo -----------------------------------------------------------------------------------------

export const TAP_RESET_MS = 2000;

// Tap times in milliseconds, oldest first; the tempo of the latest run of taps, or null.
export function tapTempo(taps) {
    let run = [];
    for (const time of taps) {
        if (run.length > 0 && time - run[run.length - 1] > TAP_RESET_MS) run = [];
        run.push(time);
    }
    run = run.slice(-8);
    if (run.length < 2) return null;
    const interval = (run[run.length - 1] - run[0]) / (run.length - 1);
    if (!(interval > 0)) return null;
    const bpm = Math.round(60000 / interval);
    return Math.min(LIMITS.tempo[1], Math.max(LIMITS.tempo[0], bpm));
}
