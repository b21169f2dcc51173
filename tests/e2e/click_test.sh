#!/usr/bin/env bash
# The click test mode against a private JACK server: click_test.sh clicks | bad_input | server_killed
set -uo pipefail
source "$(dirname "$0")/e2e_lib.sh"
export TEST_CLICK=1

# A bar of count-in and two of 3/4 (a part of no bars plays one), on the two channels asked for.
scenario_clicks() {
  play --record "$work/take.wav" -- TEST_DEVICE=syst TEST_CHANNEL=3,6 TEST_CHANNELS=6 BEATS_PER_BAR=3 \
    COUNT_IN_BARS=1 SONG_BARS=0,1 TEMPO=200.9
  expect_run 0 "Targeting system, channel(s) [3, 6], 200bpm, 3/4, 1-bar count-in, song bars: [0, 1]." \
    "Listen now..." "Built 9 click events, 2.69s total." "Done."
  local right="--clicks-on 3,6 --tempo 200.9 --beats-per-bar 3"
  report $right --count 9
  # The same recording fails a check for another metre, tempo or set of channels.
  for wrong in "${right%3}4" "${right/200.9/190}" "${right/3,6/3}" "${right/3,6/3,6,7}"; do
    ! "$WAV_CHECK" "$work/take.wav" $wrong >/dev/null || fail "the check passed with $wrong"
  done
}

# Refused before anything plays.
scenario_bad_input() {
  play -- TEST_DEVICE=nosuch
  expect_run 1 "No device matching 'nosuch' — is it connected?"
  play -- TEST_DEVICE=system TEMPO=0
  expect_run 1 "Targeting system, channel(s) [1], 0bpm, 4/4, 2-bar count-in, song bars: [4, 4, 8]." \
    "Listen now..." "FAILED: Tempo must be a positive, finite number of beats per minute"
}

# The server goes while the clicks play (the song lasts 48 s).
scenario_server_killed() {
  play --kill-server-once-playing -- TEST_DEVICE=system
  expect_noticed_loss
}

run_scenario "${1:-}"
