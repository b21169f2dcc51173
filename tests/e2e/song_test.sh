#!/usr/bin/env bash
# End-to-end checks of the song test mode against a private JACK server.
# One scenario per run:
#   song_test.sh routing | stop_at | guide_mute | no_match
# PLAYER and WAV_CHECK name the programs under test.
set -uo pipefail

: "${WAV_CHECK:?}"
source "$(dirname "$0")/e2e_lib.sh"

record() { "$WAV_CHECK" "$work/take.wav" >"$work/report" || fail "no recording"; cat "$work/report"; }

# A short song: 1 count-in bar and 3 bars at 240 bpm, 4.0 s in all.
short_song=(TEST_SONG=1 TEST_DEVICE=system TEMPO=240 COUNT_IN_BARS=1 SECTIONS=In:1,V:2
            PAD_KEY=C PAD_CHANNEL=3 PAD_CHORDS=1,4,5)

case "${1:-}" in
  routing)
    play --record "$work/take.wav" -- "${short_song[@]}"
    expect_status 0
    expect_output \
      "Targeting system — click ch [5], guide ch [7], pad ch [3] key C, 240bpm, 4/4, 1-bar count-in, sections: In(1) V(2)." \
      "Listen now..." "Built 25 events (click + guide), 4.00s total." "Done."
    expect_quiet_stderr
    record
    expect_sound_only_on "3 5 7"  # pad, click, cues
    # The last click (3.75 s) dies away 60 ms later; the pad's release ends 2 s after the song.
    read -r start end < <(sound_span 5)
    holds "$end - $start > 3.7 && $end - $start < 3.9" || fail "clicks span $start..$end s"
    read -r from to < <(sound_span 3)
    holds "$to - $start > 5.5 && $to - $start < 6.6" || fail "pad ends at $to s"
    ;;
  stop_at)
    play --record "$work/take.wav" -- "${short_song[@]}" SECTIONS=In:4,V:8 STOP_AT=2
    expect_status 0
    grep -qx "Stopping early at 2.0s..." "$work/out" || fail "no early stop line"
    [ "$(tail -n 1 "$work/out")" = "Done." ] || fail "no closing line"
    record
    expect_sound_only_on "3 5 7"  # pad, click, cues
    # Clicks and cues end at the stop; the pad fades out over 1.5 s after it.
    read -r start end < <(sound_span 5)
    holds "$end - $start > 1.8 && $end - $start < 2.5" || fail "clicks end at $end s (start $start)"
    read -r from to < <(sound_span 7)
    holds "$to - $start < 2.5" || fail "cues go on until $to s"
    read -r from to < <(sound_span 3)
    holds "$to - $end > 1.2 && $to - $end < 1.8" || fail "pad ends at $to s, clicks at $end s"
    ;;
  guide_mute)
    # A cue every beat from 2.0 to 3.75 s; muted from 2.6 s on, the cues fall silent mid-count.
    play --record "$work/take.wav" -- "${short_song[@]}" SECTIONS=In:1,V:1,Ch:1,Out:8 GUIDE_MUTE_AT=2.6 STOP_AT=4
    expect_status 0
    record
    read -r start end < <(sound_span 5)
    read -r from to < <(sound_span 7)
    holds "$from >= 0 && $to - $start > 2.45 && $to - $start < 2.9" || fail "cues until $to s (start $start)"
    holds "$end - $start > 3.8" || fail "clicks stopped with the cues"
    ;;
  no_match)
    play -- TEST_SONG=1 TEST_DEVICE=nosuch
    expect_status 1
    expect_output "No device matching 'nosuch' — is it connected?"
    expect_quiet_stderr
    ;;
  *)
    echo "usage: $0 SCENARIO" >&2
    exit 2
    ;;
esac
echo "PASS: $1"
