#!/usr/bin/env bash
# The program started plainly where PipeWire is the sound server and no JACK server runs: pipewire.sh tone | song
set -uo pipefail
source "$(dirname "$0")/e2e_lib.sh"
session=pipewire_session.sh

scenario_tone() {
  play --record "$work/take.wav" -- TEST_DEVICE=stage8 TEST_CHANNEL=3
  expect_status 0; expect_quiet_stderr
  expect_line "  - stage8 (8 channel(s))"
  expect_line "Targeting stage8, requesting 8-channel output, tone on channel 3 only."
  report --tone-on 3 --frequency 440
}

scenario_song() {
  # 1 count-in bar and 3 bars at 240 bpm: 16 clicks.
  play --record "$work/take.wav" -- TEST_SONG=1 TEST_DEVICE=stage8 TEMPO=240 COUNT_IN_BARS=1 SECTIONS=In:1,V:2
  expect_status 0
  report --clicks-on 5 --tempo 240 --beats-per-bar 4 --count 16 --sound-on 7  # click, cues
}

run_scenario "${1:-}"
