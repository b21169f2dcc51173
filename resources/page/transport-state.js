import { LIMITS } from './checks.js';

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
        maySound: true,
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
        actions.push({ type: 'playSong', requestId: state.playId });
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
                state.totalDuration = Number.isFinite(result.totalDuration)
                    ? result.totalDuration
                    : state.plan.totalDuration;
                // Every new song starts with its cues audible; keep the musician's choice.
                if (state.guideMuted) {
                    actions.push({ type: 'setGuideMuted', requestId: requestIds.mute(), muted: true });
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
        tick(now) {
            if (state.phase === 'playing' && this.elapsed(now) >= state.totalDuration) {
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
