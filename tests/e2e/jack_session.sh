#!/usr/bin/env bash
# Runs a command against a private JACK server with a dummy backend.
#
#   jack_session.sh [--rate R] [--channels N] [--record FILE] [--kill-server-once-playing]
#                   [--timeout SECONDS] -- COMMAND [ARGS...]
#
# The server has a name of its own (JACK_DEFAULT_SERVER), and JACK_NO_START_SERVER=1 keeps
# clients from starting another; HOME is a scratch folder. Sessions take turns (a lock file)
# because JACK reclaims a killed server's registry slot only for a server of the same name.
# --record writes the monitor ports (what reached system:playback_1..N) to a WAV file while
# the command runs. --kill-server-once-playing kills the server as soon as the program's
# output reaches it. The period is long (21 ms) because nothing runs with real-time priority
# here: on a busy machine a short one lets the recorder miss cycles. Exit status: the
# command's (124 on a time-out), 77 when JACK or jack_capture is not installed.
set -uo pipefail

rate=48000 channels=8 record="" kill_playing="" time_limit=30
while [ $# -gt 0 ]; do
  case "$1" in
    --rate) rate=$2; shift 2 ;;
    --channels) channels=$2; shift 2 ;;
    --record) record=$2; shift 2 ;;
    --kill-server-once-playing) kill_playing=1; shift ;;
    --timeout) time_limit=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "jack_session: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "jack_session: no command" >&2; exit 2; }
for tool in jackd jack_lsp ${record:+jack_capture}; do
  command -v "$tool" >/dev/null || { echo "jack_session: $tool is not installed" >&2; exit 77; }
done

exec 9>"${TMPDIR:-/tmp}/cadenzo-e2e-jack.lock"
flock -w 300 9 || { echo "jack_session: another session holds the lock" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/cadenzo-jack.XXXXXX")
export HOME="$scratch" JACK_DEFAULT_SERVER="cadenzo-e2e" JACK_NO_START_SERVER=1
pids=()
stop_process() {
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 1 50); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  kill -KILL "$1" 2>/dev/null
}
cleanup() { for pid in "${pids[@]}"; do stop_process "$pid"; done; rm -rf "$scratch"; }
trap cleanup EXIT

# Polls a condition every 0.1 s for up to 10 s.
await() { for _ in $(seq 1 100); do "$@" && return 0; sleep 0.1; done; return 1; }
started() { jack_lsp 2>/dev/null | grep -q '^system:playback_1$'; }
recording() { [ "$(jack_lsp -c "system:monitor_$channels" 2>/dev/null | wc -l)" -ge 2 ]; }
playing() { jack_lsp -c system:playback_1 2>/dev/null | grep -q '^ *CadenzoPlayer:'; }

jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r "$rate" -p 1024 -P "$channels" -C 0 --monitor \
  >"$scratch/jackd.log" 2>&1 &
jackd_pid=$!
pids=("$jackd_pid")
disown "$jackd_pid"  # it may be killed on purpose; no job notices
await started || { echo "jack_session: the JACK server did not come up" >&2; cat "$scratch/jackd.log" >&2; exit 1; }

if [ -n "$record" ]; then
  ports=()
  for c in $(seq 1 "$channels"); do ports+=(--port "system:monitor_$c"); done
  jack_capture --daemon --channels "$channels" "${ports[@]}" "$record" >"$scratch/capture.log" 2>&1 &
  capture_pid=$!
  pids=("$capture_pid" "${pids[@]}")
  await recording || { echo "jack_session: jack_capture did not connect" >&2; cat "$scratch/capture.log" >&2; exit 1; }
fi

if [ -n "$kill_playing" ]; then
  (for _ in $(seq 1 300); do playing && break; sleep 0.05; done; kill -KILL "$jackd_pid") &
  pids=("$!" "${pids[@]}")
  disown "$!"
fi

timeout --kill-after=5 "$time_limit" "$@"
status=$?

if [ -n "$record" ]; then
  # Let the last blocks reach the file, then have jack_capture finish it.
  sleep 0.3
  kill -INT "$capture_pid" 2>/dev/null
  for _ in $(seq 1 50); do kill -0 "$capture_pid" 2>/dev/null || break; sleep 0.1; done
  wait "$capture_pid" 2>/dev/null
fi
exit "$status"
