#!/usr/bin/env bash
# The song test mode against a private JACK server: song_test.sh routing | stop_and_mute | one_ear | server_killed
set -uo pipefail
source "$(dirname "$0")/e2e_lib.sh"

# A short song: 1 count-in bar and 3 bars at 240 bpm, 4.0 s in all.
short_song=(TEST_SONG=1 TEST_DEVICE=system TEMPO=240 COUNT_IN_BARS=1 SECTIONS=In:1,V:2
            PAD_KEY=C PAD_CHANNEL=3 PAD_CHORDS=1,4,5)

scenario_routing() {
  play --record "$work/take.wav" -- "${short_song[@]}"
  expect_run 0 \
    "Targeting system — click ch [5], guide ch [7], pad ch [3] key C, 240bpm, 4/4, 1-bar count-in, sections: In(1) V(2)." \
    "Listen now..." "Built 25 events (click + guide), 4.00s total." "Done."
  report --sound-on 3,5,7  # pad, click, cues
  # The last click (3.75 s) dies away 60 ms later; the pad's release ends 2 s after the song.
  holds "${to[5]} - ${from[5]} > 3.7 && ${to[5]} - ${from[5]} < 3.9" || fail "clicks span ${from[5]}..${to[5]} s"
  holds "${to[3]} - ${from[5]} > 5.5 && ${to[3]} - ${from[5]} < 6.6" || fail "pad ends at ${to[3]} s"
}

# A 12 s song with a cue on every beat from 2.0 s: the cues are muted at 2.6 s, mid-count, the song
# stops at 3.4 s, and the pad fades out over 1.5 s after the stop.
scenario_stop_and_mute() {
  play --record "$work/take.wav" -- "${short_song[@]}" SECTIONS=In:1,V:1,Ch:1,Out:8 GUIDE_MUTE_AT=2.6 STOP_AT=3.4
  expect_status 0
  expect_line "Stopping early at 3.4s..."
  expect_last_line "Done."
  report --sound-on 3,5,7
  holds "${to[5]} - ${from[5]} > 3.2 && ${to[5]} - ${from[5]} < 3.9" || fail "clicks span ${from[5]}..${to[5]} s"
  holds "${to[7]} - ${from[5]} > 2.45 && ${to[7]} - ${from[5]} < 2.9" || fail "cues until ${to[7]} s"
  holds "${to[3]} - ${from[5]} > 4.5 && ${to[3]} - ${from[5]} < 5.3" || fail "pad until ${to[3]} s"
}

# Click and cues in one in-ear channel add up past full scale; the device must not receive that.
scenario_one_ear() {
  play --record "$work/take.wav" -- "${short_song[@]}" GUIDE_CHANNEL=5
  expect_status 0
  report --sound-on 3,5
  awk '$1 == "channel" && $2 == "5:" { exit !($6 > 0.9 && $6 < 1.0) }' "$work/report" || fail "channel 5 peak"
}

# The server goes while the song plays (the default song lasts 34 s).
scenario_server_killed() {
  play --kill-server-once-playing -- TEST_SONG=1 TEST_DEVICE=system
  expect_noticed_loss
}

run_scenario "${1:-}"
