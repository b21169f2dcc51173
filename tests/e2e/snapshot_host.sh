#!/usr/bin/env bash
# Takes a picture of the program's window: runs it with the bundled control
# page under a virtual display against a private JACK dummy server, waits for
# the page to settle and writes the screen to a PNG file.
#
#   snapshot_host.sh out.png [seconds]
# PLAYER and SCREEN_SNAPSHOT name the programs.
set -uo pipefail
: "${PLAYER:?}" "${SCREEN_SNAPSHOT:?}"
[ $# -ge 1 ] || { echo "usage: $0 out.png [seconds]" >&2; exit 2; }
out=$(realpath -m "$1") wait=${2:-4}
here=$(cd "$(dirname "$0")" && pwd)

# Inside the display: the program in the background, the picture, then the program stopped by its id.
inside='"$PLAYER" & player=$!; sleep "$WAIT"; "$SCREEN_SNAPSHOT" "$OUT"; status=$?; kill "$player"; wait "$player"; exit $status'
"$here/jack_session.sh" --timeout $((wait + 30)) -- env BRIDGE_TEST_PAGE=1 PLAYER="$PLAYER" \
  SCREEN_SNAPSHOT="$SCREEN_SNAPSHOT" OUT="$out" WAIT="$wait" \
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$inside"
