#!/usr/bin/env bash
# End-to-end checks of the device and channel test mode against a private
# JACK server. One scenario per run:
#   device_test.sh tone_on_channel_3 | tone_at_44100 | listing | no_match |
#                  server_killed | server_stopped | server_loss_in_process
# PLAYER, WAV_CHECK and SERVER_LOSS_PROBE name the programs under test.
set -uo pipefail

: "${WAV_CHECK:?}" "${SERVER_LOSS_PROBE:?}"
source "$(dirname "$0")/e2e_lib.sh"

case "${1:-}" in
  tone_on_channel_3)
    play --record "$work/take.wav" -- TEST_DEVICE=system TEST_CHANNEL=3
    expect_status 0
    [ "$(tail -n 1 "$work/out")" = "Done — no errors. Did it land on channel 3?" ] || fail "no closing line"
    expect_quiet_stderr
    "$WAV_CHECK" "$work/take.wav" --tone-on 3 --frequency 440 --tolerance 2 || fail "recording"
    ;;
  tone_at_44100)
    play --rate 44100 --record "$work/take.wav" -- TEST_DEVICE=system TEST_CHANNEL=5 TEST_CHANNELS=6
    expect_status 0
    "$WAV_CHECK" "$work/take.wav" --tone-on 5 --frequency 440 --tolerance 2 || fail "recording"
    ;;
  listing)
    play -- TEST_DEVICE=syst TEST_CHANNEL=2 TEST_CHANNELS=4
    expect_status 0
    expect_output "Output devices found:" "  - system (8 channel(s))" "" \
      "Targeting system, requesting 4-channel output, tone on channel 2 only." \
      "Watch the interface's meters / listen now..." \
      "Done — no errors. Did it land on channel 2?"
    expect_quiet_stderr
    ;;
  no_match)
    play -- TEST_DEVICE=nosuch
    expect_status 1
    expect_output "Output devices found:" "  - system (8 channel(s))" "" \
      "No device matching 'nosuch' — is it connected?"
    expect_quiet_stderr
    ;;
  server_killed|server_stopped)
    signal=KILL; [ "$1" = server_stopped ] && signal=TERM
    # The server goes while the tone plays: the run still ends on time.
    play --kill-server-after 0.7 --kill-signal "$signal" --timeout 15 -- TEST_DEVICE=system
    [ "$status" -ne 124 ] || fail "the program hung"
    expect_status 0
    [ "$(tail -n 1 "$work/out")" = "Done — no errors. Did it land on channel 1?" ] || fail "no closing line"
    expect_quiet_stderr
    ;;
  server_loss_in_process)
    "$session" --kill-server-after 1 --timeout 15 -- "$SERVER_LOSS_PROBE" 2.5 >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -ne 77 ] || exit 77
    cat "$work/out" "$work/err"
    [ "$status" -ne 124 ] || fail "stopping hung"
    expect_status 0
    grep -qx "start failed: Could not open output device jack:system: the JACK server is not running" "$work/out" \
      || fail "no clear start error"
    ;;
  *)
    echo "usage: $0 SCENARIO" >&2
    exit 2
    ;;
esac
echo "PASS: $1"
