#!/usr/bin/env bash
# The device and channel test mode against a private JACK server: device_test.sh tone | no_match | server_killed
set -uo pipefail
source "$(dirname "$0")/e2e_lib.sh"

# At 44.1 kHz the output goes through the resampler: the pitch must stay right.
scenario_tone() {
  play --rate 44100 --record "$work/take.wav" -- TEST_DEVICE=syst TEST_CHANNEL=3 TEST_CHANNELS=4
  expect_run 0 "Output devices found:" "  - system (8 channel(s))" "" \
    "Targeting system, requesting 4-channel output, tone on channel 3 only." \
    "Watch the interface's meters / listen now..." "Done — no errors. Did it land on channel 3?"
  report --tone-on 3 --frequency 440
}

scenario_no_match() {
  play -- TEST_DEVICE=nosuch
  expect_run 1 "Output devices found:" "  - system (8 channel(s))" "" "No device matching 'nosuch' — is it connected?"
}

# The server goes while the tone plays.
scenario_server_killed() {
  play --kill-server-once-playing -- TEST_DEVICE=system
  expect_noticed_loss
}

run_scenario "${1:-}"
