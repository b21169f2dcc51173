#!/usr/bin/env bash
# pipewire_session.sh [--record FILE] -- COMMAND...: runs COMMAND against a private PipeWire server (and no JACK
# server) with an 8-channel sink, stage8; --record writes what reached it (its monitor ports) to a WAV file.
# Exit status: the command's (124 on a time-out), 77 when PipeWire or its tools are missing.
set -uo pipefail

record=""
[ "${1:-}" != --record ] || { record=$2; shift 2; }
[ "${1:-}" = -- ] && [ $# -gt 1 ] && shift || { echo "pipewire_session: usage: [--record FILE] -- COMMAND..." >&2; exit 2; }
for tool in dbus-daemon pipewire wireplumber pw-cli pw-jack jack_lsp ${record:+jack_capture}; do
  command -v "$tool" >/dev/null || { echo "pipewire_session: $tool is not installed" >&2; exit 77; }
done

# Its own runtime folder, session bus and HOME keep a desktop's server out.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/cadenzo-pipewire.XXXXXX")
export HOME="$scratch" XDG_RUNTIME_DIR="$scratch" DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/bus" JACK_NO_START_SERVER=1
unset JACK_DEFAULT_SERVER PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && timeout 5 tail --pid="$pid" -f /dev/null; done; rm -rf "$scratch"' EXIT
await() { for _ in $(seq 1 100); do "$@" && return 0; sleep 0.1; done; echo "pipewire_session: not ready: $*" >&2; exit 1; }
start() { "$@" >>"$scratch/servers.log" 2>&1 & pids=("$!" "${pids[@]}"); }
has_port() { [ "$(pw-jack jack_lsp ${2:+-c} "$1" 2>/dev/null | wc -l)" -ge "${2:-1}" ]; }

start dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS"
await test -S "$scratch/bus"
start pipewire
await test -S "$scratch/pipewire-0"
start wireplumber
pw-cli create-node adapter '{ factory.name=support.null-audio-sink node.name=stage8 media.class=Audio/Sink
  object.linger=true audio.channels=8 audio.position=[AUX0 AUX1 AUX2 AUX3 AUX4 AUX5 AUX6 AUX7] }' >/dev/null
await has_port stage8:playback_AUX7
if [ -n "$record" ]; then
  start pw-jack jack_capture --daemon --channels 8 --port 'stage8:monitor*' "$record"
  await has_port stage8:monitor_AUX7 2  # the port and its connection to the recorder
fi

timeout --kill-after=5 30 "$@"
status=$?
# The last blocks reach the file, then the recorder finishes it.
[ -z "$record" ] || { sleep 0.3; kill -INT "${pids[0]}" && wait "${pids[0]}"; }
exit "$status"
