#!/usr/bin/env bash
# The web host under a virtual X display, in the program and in host_probe (which builds the same host):
#   web_host.sh self_test | control_page | missing_page | failed_loads | file_reads | window | library | song_model | device_lost
#               | hands_free
# HOST_PROBE and NODE name programs as PLAYER and WAV_CHECK do.
set -uo pipefail
: "${HOST_PROBE:?}" "${NODE:?}"
source "$(dirname "$0")/e2e_lib.sh"
command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed"; exit 77; }
display=(xvfb-run -a -s "-screen 0 1280x1024x24")
page_url() { echo "file://$here/$1"; }

scenario_self_test() {
  # LOAD_URL is ignored when the bundled page is asked for.
  play -- SELF_TEST=1 BRIDGE_TEST_PAGE=1 LOAD_URL="$(page_url navigate-twice.html)" "${display[@]}" "$PLAYER"
  expect_status 0
  [ "$(wc -l <"$work/out")" -eq 2 ] || fail "expected exactly two lines"
  grep -qx 'Loaded page: file:///.*/CadenzoPlayer_CadenzoPlayer\.bundle/bridge-test\.html' "$work/out" \
    || fail "no page line for the bundled page"
  expect_quiet_stderr
  # The reply is the page's JSON of the listing, keys in the bridge's order: the dummy server's device first and
  # the default, then any others of the machine.
  local other='\{"channels":[0-9]+,"isDefault":false,"name":"[^"]*","uid":"[^"]*"\}'
  grep -Eqx 'Bridge reply: \{"devices":\[\{"channels":8,"isDefault":true,"name":"system","uid":"jack:system"\}'\
"(,$other)*"'\],"ok":true,"type":"listDevices"\}' "$work/out" || fail "unexpected reply"
  # A page that keeps its own result callback: nothing to read back, and the run still ends.
  play -- SELF_TEST=1 LOAD_URL="$(page_url keeps-callback.html)" "${display[@]}" "$PLAYER"
  expect_run 0 "Loaded page: $(page_url keeps-callback.html)" "Bridge reply: null"
}

# The bundled page driven through its own controls and the real bridge (control-page-drive.js): a song
# of 5 s with clicks on 5, cues on 7 and a pad on 3, cues muted 1.5 s after the answer and the song
# stopped 1 s later, then a test tone on output 4.
scenario_control_page() {
  play --timeout 90 --record "$work/take.wav" -- BRIDGE_TEST_PAGE=1 "${display[@]}" "$HOST_PROBE" \
    --scenario "$here/../page/ui-helpers.js" --scenario "$here/control-page-drive.js" --timeout 80
  expect_status 0
  report --tone-on 4 --frequency 440 --sound-on 3,5,7
  holds "${to[4]} - ${from[4]} > 1.1 && ${to[4]} - ${from[4]} < 1.3" || fail "the tone lasts ${from[4]}..${to[4]} s"
  # Sound reaches the device a little after the answer (the device's stream opens).
  holds "${to[5]} - ${from[5]} > 1.5 && ${to[5]} - ${from[5]} < 4.0" || fail "clicks ${from[5]}..${to[5]} s"
  holds "${to[7]} - ${from[5]} < 2.6" || fail "cues went on until ${to[7]} s (clicks from ${from[5]} s)"
  holds "${to[3]} - ${to[5]} > 1.0 && ${to[3]} - ${to[5]} < 2.0" || fail "pad until ${to[3]} s, clicks until ${to[5]} s"
}

# A program without its window module, then a resource bundle without the page: a fatal message and a
# failure status each.
scenario_missing_page() {
  mkdir -p "$work/bin/CadenzoPlayer_CadenzoPlayer.bundle/GuideSounds"
  cp "$PLAYER" "$work/bin/cadenzo-player"
  for missing in "The window could not be opened: no cadenzo-window.so beside the program or in its library directory" \
                 "bridge-test.html not found in bundle"; do
    play -- BRIDGE_TEST_PAGE=1 "${display[@]}" "$work/bin/cadenzo-player"
    [ "$status" -ne 0 ] || fail "exit status 0"
    [ "$(grep -v '^jack_session:' "$work/err")" = "$missing" ] || fail "standard error"
    [ ! -s "$work/out" ] || fail "unexpected standard output"
    cp "$(dirname "$PLAYER")/cadenzo-window.so" "$work/bin/"
  done
}

# Pages that go wrong mid-load: a failure after the page began to arrive is one line on standard error,
# one before it none; the load ends either way and the window stays open.
scenario_failed_loads() {
  "$NODE" "$here/http-stub.mjs" >"$work/stub" 2>&1 &
  cleanups+=("kill $!")
  for _ in $(seq 1 50); do grep -q '^port ' "$work/stub" && break; sleep 0.1; done
  local base="http://127.0.0.1:$(awk '$1 == "port" { print $2 }' "$work/stub")"
  local row path reason
  for row in "truncated|[^()]*" "stall|The page did not finish loading within 5 seconds" "silent|"; do
    IFS='|' read -r path reason <<<"$row"
    play -- LOAD_URL="$base/$path" "${display[@]}" "$HOST_PROBE" --loads 1 --load-timeout 5 --timeout 30
    expect_status 0
    grep -q '^host_probe: window "' "$work/out" || fail "$path: the window went"
    ! grep -q '^host_probe: finished' "$work/out" || fail "$path: a failed load counted as finished"
    local expected=${reason:+Navigation failed: $reason [(]domain [a-z-]+, code [0-9]+, address $base/$path[)]}
    [[ "$(grep -v '^jack_session:' "$work/err")" =~ ^$expected$ ]] || fail "$path: not '$expected' on standard error"
  done
  # A whole page whose image never comes is ready at once, and the time limit, which covers only the page's own
  # request, leaves the image loading; the self-test reports on it too.
  echo 'setTimeout(() => { window.__probeResult = {ok: !document.images[0].complete}; }, 2000);' >"$work/image.js"
  play -- LOAD_URL="$base/waits-on-image" "${display[@]}" "$HOST_PROBE" --scenario "$work/image.js" --load-timeout 1
  expect_run 0 "host_probe: finished $base/waits-on-image" 'PASS {"ok":true}'
  play -- SELF_TEST=1 LOAD_URL="$base/waits-on-image" "${display[@]}" "$PLAYER"
  expect_status 0
  [ "$(head -n 1 "$work/out")" = "Loaded page: $base/waits-on-image" ] || fail "no page line first"
  grep -q '^Bridge reply: {"devices":\[{' "$work/out" || fail "no device in the reply"
}

# The bundled page reads the files of its own folder and below, and no other file (bundle-reads.js); a folder
# name that reads otherwise as a pattern is taken as written. Where the rule cannot be stored the page reads
# no file at all and says why.
scenario_file_reads() {
  local bin="$work/bin+(1)"
  mkdir -p "$bin" && cp -r "$(dirname "$HOST_PROBE")/CadenzoPlayer_CadenzoPlayer.bundle" "$HOST_PROBE" "$bin/"
  echo "beside the bundle" >"$bin/CadenzoPlayer_CadenzoPlayer.bundle.txt"
  play -- BRIDGE_TEST_PAGE=1 "${display[@]}" "$bin/host_probe" --scenario "$here/bundle-reads.js"
  expect_status 0
  expect_last_line 'PASS {"ok":true,"fetch":[true,true,false,false],"request":[true,true,false,false]}'
  expect_quiet_stderr
  play -- XDG_CACHE_HOME=/dev/null BRIDGE_TEST_PAGE=1 "${display[@]}" "$bin/host_probe" --scenario "$here/bundle-reads.js"
  expect_last_line 'FAIL {"ok":false,"fetch":[false,false,false,false],"request":[false,false,false,false]}'
  grep -q '^The page cannot read its bundle folder: ' "$work/err" || fail "no reason on standard error"
}

# Titled, 900 by 700, centred on the 1280 by 1024 screen, resizable, dark, the web view filling it and
# following a resize; a page that goes on to another address is seen to finish both loads. The next
# start opens the window as it was left.
scenario_window() {
  local window='host_probe: window "CadenzoPlayer (bridge prototype)"'
  play -- XDG_CONFIG_HOME="$work/config" LOAD_URL="$(page_url navigate-twice.html)" "${display[@]}" "$HOST_PROBE" \
    --loads 2 --resize 1000x600
  expect_run 0 "host_probe: finished $(page_url navigate-twice.html)" \
    "host_probe: finished $(page_url navigate-twice.html)?again" \
    "$window 900x700 at 190,162, resizable, dark" "host_probe: web view 900x700" \
    "$window 1000x600 at 190,162, resizable, dark" "host_probe: web view 1000x600"
  play -- XDG_CONFIG_HOME="$work/config" LOAD_URL="$(page_url navigate-twice.html)" "${display[@]}" "$HOST_PROBE" \
    --loads 2
  expect_run 0 "host_probe: finished $(page_url navigate-twice.html)" \
    "host_probe: finished $(page_url navigate-twice.html)?again" \
    "$window 1000x600 at 190,162, resizable, dark" "host_probe: web view 1000x600"
}

# A set list built in the bundled page is in the library file on the next start; a broken file is kept aside,
# the page told, and the version before it offered.
scenario_library() {
  local step data="$work/data/cadenzo-player"
  for step in build find broken; do
    # As if the set list had been saved once more and that file then broken.
    [ "$step" = broken ] && mv "$data/library.json" "$data/library.json.1" && echo '{"songs": [' >"$data/library.json"
    echo "const STEP = '$step';" >"$work/step.js"
    play --timeout 60 -- XDG_DATA_HOME="$work/data" BRIDGE_TEST_PAGE=1 "${display[@]}" "$HOST_PROBE" \
      --scenario "$here/../page/ui-helpers.js" --scenario "$work/step.js" --scenario "$here/library-drive.js" \
      --timeout 50
    expect_status 0
    [ "$step" = build ] && { grep -q '"Encore"' "$data/library.json" || fail "the file lacks the set list"; }
  done
  [ "$(cat "$data"/library.json.unreadable-*)" = '{"songs": [' ] || fail "the broken file is not kept as it was"
}

# A song with a tempo and a metre change, its intro vamped and a jump to its verse, recorded: the clicks and
# cues of the song written the way it played (exported with no device), from the first click to the end.
scenario_song_model() {
  echo "const SONG = $(cat "$here/song-model.json");" >"$work/song.js"
  play --timeout 60 --record "$work/take.wav" -- LOAD_URL="$(page_url keeps-callback.html)" "${display[@]}" \
    "$HOST_PROBE" --scenario "$here/../page/ui-helpers.js" --scenario "$work/song.js" \
    --scenario "$here/song-model-drive.js" --timeout 50
  expect_status 0
  sed 's/{"label": "In", "bars": 2},/&\n    {"label": "In", "bars": 2},/' "$here/song-model.json" >"$work/written.json"
  SONG_FILE="$work/written.json" EXPORT_WAV="$work/written.wav" "$PLAYER" >/dev/null || fail "no export"
  "$WAV_CHECK" "$work/take.wav" --same-as "$work/written.wav" --on 5,7 || fail "the take is not the song written"
}

# The JACK server goes while the bundled page plays a song, and comes back (device-lost-drive.js).
scenario_device_lost() {
  play --kill-server-once-playing --restart-server --timeout 60 -- BRIDGE_TEST_PAGE=1 "${display[@]}" "$HOST_PROBE" \
    --scenario "$here/../page/ui-helpers.js" --scenario "$here/device-lost-drive.js" --timeout 50
  expect_status 0
}

# A foot switch (a JACK MIDI client) and a tablet (OSC over the loopback) drive the bundled page through a
# set list of two songs (hands-free-drive.js checks the page's side); the tablet follows the song, and a
# malformed packet and a flood of 10,000 leave the program answering.
scenario_hands_free() {
  : "${CONTROL_PROBE:?}"
  local port=$((20000 + RANDOM % 20000)) data="$work/data/cadenzo-player"
  mkdir -p "$data" && cp "$here/hands-free-library.json" "$data/library.json"
  cat >"$work/steps.sh" <<STEPS
probe() { "$CONTROL_PROBE" "\$@" || echo "control_probe \$* failed"; }
"$HOST_PROBE" --scenario "$here/../page/ui-helpers.js" --scenario "$here/hands-free-drive.js" --timeout 80 &
host=\$!
for _ in \$(seq 1 300); do [ -e "\$HOME/Documents/CadenzoPlayer/ready" ] && break; sleep 0.1; done
probe midi 176 80 127 --listen system:monitor_5
sleep 1; probe watch $port 2 >"$work/watched"
probe midi 176 82 127; sleep 1.5
probe midi 176 80 127; sleep 1.5
probe midi 176 81 127; sleep 1.5
probe osc $port /cadenzo/previous; sleep 1.5
probe osc $port /cadenzo/play; sleep 3
probe osc $port /cadenzo/section i:2; sleep 1.5
probe osc $port /cadenzo/vamp i:1; sleep 1; probe osc $port /cadenzo/vamp f:0; sleep 1.5
probe osc $port /cadenzo/cues i:0; sleep 1; probe osc $port /cadenzo/cues i:1; sleep 1
probe osc $port /cadenzo/tap f:1; probe osc $port /cadenzo/tap f:0; sleep 1
probe osc $port /cadenzo/stop; sleep 1.5
probe garbage $port; probe flood $port 10000 /cadenzo/tap; sleep 1.5
probe watch $port 1 >>"$work/watched"
probe osc $port /cadenzo/stop
wait \$host
STEPS
  play --timeout 100 --record "$work/take.wav" -- XDG_DATA_HOME="$work/data" CONTROL_OSC_PORT=$port BRIDGE_TEST_PAGE=1 \
    "${display[@]}" bash "$work/steps.sh"
  expect_status 0
  ! grep -q 'failed$' "$work/out" || fail "a control_probe step failed"
  grep -Eq '^sound after [0-9]+ frames' "$work/out" || fail "the foot switch's play was not heard"
  cat "$work/watched"
  grep -Eq '^state playing "Opener" section [0-3] "(Count-in|In|V)" bar [1-8] beat [1-4]$' "$work/watched" \
    || fail "the tablet did not see the song playing"
  [ "$(tail -n 1 "$work/watched")" = 'state stopped "" section 0 "" bar 0 beat 0' ] || fail "no answer after the flood"
  report --sound-on 5,7
}

run_scenario "${1:-}"
