#!/usr/bin/env bash
# Runs a command against a private 8-channel JACK server with a dummy backend:
#   jack_session.sh [--rate R] [--record FILE] [--kill-server-once-playing [--restart-server]] [--timeout SECONDS]
#                   -- COMMAND...
# A server name of its own, JACK_NO_START_SERVER=1 and a scratch HOME keep the rest of the machine out.
# Sessions take turns: JACK reclaims a killed server's registry slot only for one of the same name.
# --record writes what reached system:playback_1..8 (the monitor ports) to a WAV file. The period is
# long (21 ms) as nothing runs with real-time priority: a short one lets the recorder miss cycles.
# With --kill-server-once-playing it notes on standard error when the server was killed and the command ended;
# --restart-server starts it again a second after.
# Exit status: the command's (124 on a time-out), 77 when JACK or jack_capture is missing.
set -uo pipefail

rate=48000 channels=8 record="" kill_playing="" restart="" time_limit=30
while [ $# -gt 0 ]; do
  case "$1" in
    --rate) rate=$2; shift 2 ;;
    --record) record=$2; shift 2 ;;
    --kill-server-once-playing) kill_playing=1; shift ;;
    --restart-server) restart=1; shift ;;
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
stop_process() { kill "$1" 2>/dev/null && ! timeout 5 tail --pid="$1" -f /dev/null && kill -KILL "$1" 2>/dev/null; }
cleanup() {
  for pid in "${pids[@]}" $(cat "$scratch/restarted" 2>/dev/null); do stop_process "$pid"; done
  rm -rf "$scratch"
}
trap cleanup EXIT

# Polls a condition every 0.1 s for up to 10 s.
await() { for _ in $(seq 1 100); do "$@" && return 0; sleep 0.1; done; return 1; }
started() { jack_lsp 2>/dev/null | grep -q '^system:playback_1$'; }
recording() { [ "$(jack_lsp -c "system:monitor_$channels" 2>/dev/null | wc -l)" -ge 2 ]; }
playing() { jack_lsp -c system:playback_1 2>/dev/null | grep -q '^ *CadenzoPlayer:'; }

start_server() {
  jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r "$rate" -p 1024 -P "$channels" -C 0 --monitor \
    >>"$scratch/jackd.log" 2>&1 &
  jackd_pid=$!
  pids+=("$jackd_pid")
  disown "$jackd_pid"  # it may be killed on purpose; no job notices
  await started || { echo "jack_session: the JACK server did not come up" >&2; cat "$scratch/jackd.log" >&2; return 1; }
}
start_server || exit 1

if [ -n "$record" ]; then
  jack_capture --daemon --channels "$channels" --port 'system:monitor*' "$record" >"$scratch/capture.log" 2>&1 &
  capture_pid=$!
  pids=("$capture_pid" "${pids[@]}")
  await recording || { echo "jack_session: jack_capture did not connect" >&2; cat "$scratch/capture.log" >&2; exit 1; }
fi

if [ -n "$kill_playing" ]; then
  (await playing; kill -KILL "$jackd_pid"; echo "jack_session: server killed at $(date +%s.%N)" >&2
   # A server killed a moment ago may still hold its name: a second try.
   [ -z "$restart" ] || { sleep 1; start_server || { stop_process "$jackd_pid"; sleep 2; start_server; }
                          echo "$jackd_pid" >"$scratch/restarted"; }) &
  pids=("$!" "${pids[@]}")
  disown "$!"
fi

timeout --kill-after=5 "$time_limit" "$@"
status=$?
[ -z "$kill_playing" ] || echo "jack_session: command ended at $(date +%s.%N)" >&2

if [ -n "$record" ]; then
  # Let the last blocks reach the file, then have jack_capture finish it.
  sleep 0.3
  kill -INT "$capture_pid" 2>/dev/null
  wait "$capture_pid" 2>/dev/null
fi
exit "$status"
