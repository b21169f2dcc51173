#!/usr/bin/env bash
# End-to-end checks of the web host: the program and a probe that builds the
# same host, under a virtual X display, with a private JACK server where the
# bridge needs a device and a loopback HTTP server where a page must go wrong.
# One scenario per run:
#   web_host.sh self_test | self_test_no_reply | bridge_page | control_page | bundle_page | missing_page |
#               failed_after_start | timeout_after_start | timeout_before_start | window | second_load
# PLAYER, HOST_PROBE, HTTP_STUB, WAV_CHECK and NODE name the programs.
set -uo pipefail

: "${HOST_PROBE:?}" "${HTTP_STUB:?}" "${WAV_CHECK:?}" "${NODE:?}"
source "$(dirname "$0")/e2e_lib.sh"

command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed"; exit 77; }
display=(xvfb-run -a -s "-screen 0 1280x1024x24")
page_url() { echo "file://$here/$1"; }

# Runs a command (after VAR=value settings) in a JACK session; output and status land in $work.
in_session() {
  local session_options=()
  while [ "$1" != "--" ]; do session_options+=("$1"); shift; done
  shift
  "$session" "${session_options[@]}" -- env "$@" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -ne 77 ] || exit 77
  show
}

# The same without an audio server, for pages that need no device.
alone() {
  mkdir -p "$work/home"
  env -u http_proxy -u https_proxy -u all_proxy -u HTTP_PROXY -u HTTPS_PROXY -u ALL_PROXY HOME="$work/home" \
    timeout --kill-after=5 60 env "$@" >"$work/out" 2>"$work/err"
  status=$?
  show
}

show() {
  echo "--- status $status, standard output:"; cat "$work/out"
  if [ -s "$work/err" ]; then echo "--- standard error:"; cat "$work/err"; fi
}

# Standard error without the session's own notes.
program_stderr() { grep -v '^jack_session:' "$work/err"; }

start_stub() {
  "$HTTP_STUB" "$1" >"$work/stub" 2>&1 &
  stub_pid=$!
  trap 'kill "$stub_pid" 2>/dev/null; rm -rf "$work"' EXIT
  port=""
  for _ in $(seq 1 50); do
    port=$(awk '$1 == "port" { print $2 }' "$work/stub")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || fail "the HTTP stub did not start: $(cat "$work/stub")"
}

expect_failure_lines() {
  local count
  count=$(grep -c '^Navigation failed: ' "$work/err")
  [ "$count" -eq "$1" ] || fail "$count \"Navigation failed\" line(s), expected $1"
  ! grep -v '^Navigation failed: ' "$work/err" | grep -q . || fail "other text on standard error"
}

expect_line() { grep -qx -- "$1" "$work/out" || fail "no line: $1"; }

case "${1:-}" in
  self_test)
    # LOAD_URL is ignored when the bundled page is asked for.
    in_session -- SELF_TEST=1 BRIDGE_TEST_PAGE=1 LOAD_URL="$(page_url navigate-twice.html)" "${display[@]}" "$PLAYER"
    expect_status 0
    [ "$(wc -l <"$work/out")" -eq 2 ] || fail "expected exactly two lines"
    grep -qx 'Loaded page: file:///.*/CadenzoPlayer_CadenzoPlayer\.bundle/bridge-test\.html' "$work/out" \
      || fail "no page line for the bundled page"
    # The reply is the page's JSON of the listing: the dummy server's device first and the default.
    reply=$(sed -n 's/^Bridge reply: //p' "$work/out")
    "$NODE" -e '
      const r = JSON.parse(process.argv[1]);
      const same = (a, b) => JSON.stringify(a, Object.keys(a).sort()) === JSON.stringify(b, Object.keys(b).sort());
      const ok = r.ok === true && r.type === "listDevices" && !("requestId" in r) && Object.keys(r).length === 3 &&
        same(r.devices[0], { uid: "jack:system", name: "system", channels: 8, isDefault: true }) &&
        r.devices.slice(1).every((d) => d.isDefault === false && Object.keys(d).length === 4);
      process.exit(ok ? 0 : 1);' "$reply" || fail "unexpected reply: $reply"
    [ -z "$(program_stderr)" ] || fail "the program wrote to standard error"
    ;;
  self_test_no_reply)
    # The page keeps its own result callback: the read-back finds nothing and the run still ends.
    in_session -- SELF_TEST=1 LOAD_URL="$(page_url keeps-callback.html)" "${display[@]}" "$PLAYER"
    expect_status 0
    expect_line "Loaded page: $(page_url keeps-callback.html)"
    expect_line "Bridge reply: null"
    ;;
  bridge_page)
    # Every request type through the real web view and bridge, and what reached the device.
    in_session --record "$work/take.wav" -- LOAD_URL="$(page_url bridge-drive.html)" \
      "${display[@]}" "$HOST_PROBE" --verdict --timeout 60
    expect_status 0
    "$WAV_CHECK" "$work/take.wav" >"$work/report" || fail "no recording"
    cat "$work/report"
    expect_sound_only_on "3 5 7"
    frequency=$(awk '$1 == "channel" && $2 == "3:" { print $8 }' "$work/report")
    holds "$frequency > 438 && $frequency < 442" || fail "the tone is at $frequency Hz"
    # The page mutes the cues 0.6 s and stops the song 2 s after its answer, which comes when the song
    # has started; sound reaches the device a little later (the device's stream opens). So the clicks
    # last well under the song's 3.8 s, and the cues stop before the second section's cue at 1 s.
    read -r click_from click_to < <(sound_span 5)
    read -r cue_from cue_to < <(sound_span 7)
    holds "$click_to - $click_from > 1.0 && $click_to - $click_from < 2.6" || fail "clicks $click_from..$click_to s"
    holds "$cue_to - $click_from < 1.0" || fail "cues went on until $cue_to s (clicks from $click_from s)"
    ;;
  control_page)
    # The bundled control page driven through its own controls (control-page-drive.js): song,
    # pad, routing, play, cues muted 1.5 s after the answer, stop 1 s later, then a test tone.
    in_session --timeout 90 --record "$work/take.wav" -- BRIDGE_TEST_PAGE=1 "${display[@]}" "$HOST_PROBE" \
      --verdict --scenario "$here/../page/ui-helpers.js" --scenario "$here/control-page-drive.js" --timeout 80
    expect_status 0
    "$WAV_CHECK" "$work/take.wav" >"$work/report" || fail "no recording"
    cat "$work/report"
    expect_sound_only_on "3 4 5 7"
    frequency=$(awk '$1 == "channel" && $2 == "4:" { print $8 }' "$work/report")
    holds "$frequency > 438 && $frequency < 442" || fail "the tone is at $frequency Hz"
    # The song would last 5 s with cues until 3.4 s; the stop and the mute cut both short,
    # and the pad fades out over 1.5 s after the stop.
    read -r click_from click_to < <(sound_span 5)
    read -r cue_from cue_to < <(sound_span 7)
    read -r pad_from pad_to < <(sound_span 3)
    holds "$click_to - $click_from > 1.5 && $click_to - $click_from < 4.0" || fail "clicks $click_from..$click_to s"
    holds "$cue_to - $click_from < 2.6" || fail "cues went on until $cue_to s (clicks from $click_from s)"
    holds "$pad_to - $click_to > 1.0 && $pad_to - $click_to < 2.0" || fail "pad until $pad_to s, clicks until $click_to s"
    ;;
  bundle_page)
    # The bundled page, not LOAD_URL, and it may read the files beside it.
    alone BRIDGE_TEST_PAGE=1 LOAD_URL="$(page_url navigate-twice.html)" \
      "${display[@]}" "$HOST_PROBE" --scenario "$here/read-sibling.js" --timeout 30
    expect_status 0
    ;;
  missing_page)
    # A resource bundle without the page: a fatal message and a failure status.
    mkdir -p "$work/bin/CadenzoPlayer_CadenzoPlayer.bundle/GuideSounds"
    cp "$PLAYER" "$work/bin/cadenzo-player"
    alone BRIDGE_TEST_PAGE=1 "${display[@]}" "$work/bin/cadenzo-player"
    [ "$status" -ne 0 ] || fail "exit status 0"
    [ "$(cat "$work/err")" = "bridge-test.html not found in bundle" ] || fail "unexpected standard error"
    [ ! -s "$work/out" ] || fail "unexpected standard output"
    ;;
  failed_after_start)
    # The page starts to arrive, then the connection breaks: one line, and the window stays open.
    start_stub truncated
    alone LOAD_URL="http://127.0.0.1:$port/" "${display[@]}" "$HOST_PROBE" --run-for 6
    expect_status 0
    expect_line "host_probe: window open"
    expect_failure_lines 1
    grep -q "^Navigation failed: .*(domain [a-z-]*, code [0-9]*, address http://127.0.0.1:$port/)$" "$work/err" \
      || fail "the line lacks the error's domain, code or address"
    ! grep -q '^host_probe: finished' "$work/out" || fail "a failed load counted as finished"
    ;;
  timeout_after_start)
    # The page starts to arrive and then stalls past the time limit: reported as timed out.
    start_stub stall
    alone LOAD_URL="http://127.0.0.1:$port/" "${display[@]}" "$HOST_PROBE" --run-for 6 --load-timeout 2
    expect_status 0
    expect_line "host_probe: window open"
    expect_failure_lines 1
    grep -q "^Navigation failed: The page did not finish loading within 2 seconds (domain g-io-error-quark" \
      "$work/err" || fail "not reported as a time-out"
    ! grep -q '^host_probe: finished' "$work/out" || fail "a stopped load counted as finished"
    ;;
  timeout_before_start)
    # No answer at all: the load is given up after the limit and nothing is reported.
    start_stub silent
    alone LOAD_URL="http://127.0.0.1:$port/" "${display[@]}" "$HOST_PROBE" --run-for 5 --load-timeout 2
    expect_status 0
    expect_line "host_probe: window open"
    expect_failure_lines 0
    ! grep -q '^host_probe: finished' "$work/out" || fail "an abandoned load counted as finished"
    ! grep -q '^host_probe: still loading' "$work/out" || fail "the load was not given up"
    ;;
  window)
    # Titled, 900 by 700, centred on the 1280 by 1024 screen, resizable, the web view filling it.
    alone LOAD_URL="$(page_url keeps-callback.html)" "${display[@]}" "$HOST_PROBE" --run-for 2
    expect_status 0
    expect_output "host_probe: finished $(page_url keeps-callback.html)" "host_probe: window open" \
      'host_probe: window "CadenzoPlayer (bridge prototype)" 900x700 at 190,162, resizable' \
      "host_probe: web view 900x700"
    expect_failure_lines 0
    ;;
  second_load)
    # The page goes on to another address: each finished load is seen. The web view follows a resized window.
    alone LOAD_URL="$(page_url navigate-twice.html)" "${display[@]}" "$HOST_PROBE" --run-for 4 --resize 1000x600
    expect_status 0
    expect_output "host_probe: finished $(page_url navigate-twice.html)" \
      "host_probe: finished $(page_url navigate-twice.html)?again" "host_probe: window open" \
      'host_probe: window "CadenzoPlayer (bridge prototype)" 1000x600 at 190,162, resizable' \
      "host_probe: web view 1000x600"
    expect_failure_lines 0
    ;;
  *)
    echo "usage: $0 SCENARIO" >&2
    exit 2
    ;;
esac
echo "PASS: $1"
