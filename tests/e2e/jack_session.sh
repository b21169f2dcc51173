#!/usr/bin/env bash
# Runs a command against a private JACK server with a dummy backend.
#
#   jack_session.sh [--rate R] [--channels N] [--period P (1024)] [--record FILE]
#                   [--kill-server-after SECONDS] [--kill-signal SIG] [--timeout SECONDS] -- COMMAND [ARGS...]
#
# The server gets a name of its own, so nothing else on the machine is touched
# and nothing of it is touched: JACK_DEFAULT_SERVER names it and
# JACK_NO_START_SERVER=1 keeps every client from starting another one. HOME
# points at a scratch folder. Sessions take turns (a lock file): the name stays
# the same from run to run because JACK reclaims the registry slot of a killed
# server only for a server of the same name, and has few slots. With --record, the server's monitor ports (what
# reached system:playback_1..N) are written to a multichannel WAV file while
# the command runs. With --kill-server-after, the server is killed that long
# after the command started. The period is long (21 ms at 48 kHz) because no
# client runs with real-time priority here: on a busy machine a short period
# lets the recorder miss cycles, which shortens the recording. Everything started here is stopped by process id
# on the way out. The exit status is the command's (124 when it timed out), or
# 77 when JACK or jack_capture is not installed.
set -uo pipefail

rate=48000 channels=8 period=1024 record="" kill_after="" kill_signal=KILL time_limit=30
while [ $# -gt 0 ]; do
  case "$1" in
    --rate) rate=$2; shift 2 ;;
    --channels) channels=$2; shift 2 ;;
    --period) period=$2; shift 2 ;;
    --record) record=$2; shift 2 ;;
    --kill-server-after) kill_after=$2; shift 2 ;;
    --kill-signal) kill_signal=$2; shift 2 ;;
    --timeout) time_limit=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "jack_session: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "jack_session: no command" >&2; exit 2; }

for tool in jackd jack_lsp; do
  command -v "$tool" >/dev/null || { echo "jack_session: $tool is not installed" >&2; exit 77; }
done
if [ -n "$record" ] && ! command -v jack_capture >/dev/null; then
  echo "jack_session: jack_capture is not installed" >&2
  exit 77
fi

exec 9>"${TMPDIR:-/tmp}/cadenzo-e2e-jack.lock"
flock -w 300 9 || { echo "jack_session: another session holds the lock" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/cadenzo-jack.XXXXXX")
export HOME="$scratch"
export JACK_DEFAULT_SERVER="cadenzo-e2e"
export JACK_NO_START_SERVER=1

jackd_pid="" capture_pid="" killer_pid=""
stop_process() {
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 1 50); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  kill -KILL "$1" 2>/dev/null
}
cleanup() {
  for pid in $killer_pid $capture_pid $jackd_pid; do stop_process "$pid"; done
  rm -rf "$scratch"
}
trap cleanup EXIT

jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r "$rate" -p "$period" -P "$channels" -C 0 --monitor \
  >"$scratch/jackd.log" 2>&1 &
jackd_pid=$!
disown "$jackd_pid"  # it may be killed on purpose; no job notices

up=""
for _ in $(seq 1 100); do
  if jack_lsp 2>/dev/null | grep -q '^system:playback_1$'; then up=1; break; fi
  kill -0 "$jackd_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$up" ]; then
  echo "jack_session: the JACK server did not come up" >&2
  cat "$scratch/jackd.log" >&2
  exit 1
fi

if [ -n "$record" ]; then
  ports=()
  for c in $(seq 1 "$channels"); do ports+=(--port "system:monitor_$c"); done
  jack_capture --daemon --channels "$channels" "${ports[@]}" "$record" >"$scratch/capture.log" 2>&1 &
  capture_pid=$!
  connected=""
  for _ in $(seq 1 100); do
    if [ "$(jack_lsp -c "system:monitor_$channels" 2>/dev/null | wc -l)" -ge 2 ]; then connected=1; break; fi
    sleep 0.1
  done
  if [ -z "$connected" ]; then
    echo "jack_session: jack_capture did not connect" >&2
    cat "$scratch/capture.log" >&2
    exit 1
  fi
fi

if [ -n "$kill_after" ]; then
  (sleep "$kill_after"; kill "-$kill_signal" "$jackd_pid" 2>/dev/null) &
  killer_pid=$!
  disown "$killer_pid"
fi

timeout --kill-after=5 "$time_limit" "$@"
status=$?

if [ -n "$capture_pid" ]; then
  # Let the last blocks reach the file, then have jack_capture finish it.
  sleep 0.3
  kill -INT "$capture_pid" 2>/dev/null
  for _ in $(seq 1 50); do kill -0 "$capture_pid" 2>/dev/null || break; sleep 0.1; done
  wait "$capture_pid" 2>/dev/null
  capture_pid=""
fi
exit "$status"
