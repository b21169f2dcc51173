#!/usr/bin/env bash
# End-to-end checks of the click test mode against a private JACK server. One
# scenario per run:
#   click_test.sh clicks_on_1_2 | clicks_at_44100 | three_four | no_match | bad_tempo
# PLAYER and WAV_CHECK name the programs under test.
set -uo pipefail

: "${WAV_CHECK:?}"
source "$(dirname "$0")/e2e_lib.sh"
export TEST_CLICK=1

# The clicks on channels 1 and 2 of a 240 bpm 4/4 bar of count-in and two bars.
short_song=(TEST_DEVICE=system TEST_CHANNEL=1,2 SONG_BARS=2 COUNT_IN_BARS=1 TEMPO=240)
short_song_output=("Targeting system, channel(s) [1, 2], 240bpm, 4/4, 1-bar count-in, song bars: [2]."
  "Listen now..." "Built 12 click events, 3.00s total." "Done.")
check_short_song() {
  "$WAV_CHECK" "$work/take.wav" --clicks-on 1,2 --tempo 240 --beats-per-bar 4 --count 12 --tolerance-ms 5 \
    || fail "recording"
}

case "${1:-}" in
  clicks_on_1_2)
    play --record "$work/take.wav" -- "${short_song[@]}"
    expect_status 0
    expect_output "${short_song_output[@]}"
    expect_quiet_stderr
    check_short_song
    # The same recording must fail a check for another metre, tempo or set of channels.
    for wrong in "--clicks-on 1,2 --tempo 240 --beats-per-bar 3" "--clicks-on 1,2 --tempo 200 --beats-per-bar 4" \
                 "--clicks-on 1 --tempo 240 --beats-per-bar 4" "--clicks-on 1,2,3 --tempo 240 --beats-per-bar 4"; do
      # shellcheck disable=SC2086
      ! "$WAV_CHECK" "$work/take.wav" $wrong >/dev/null || fail "the check passed with $wrong"
    done
    ;;
  clicks_at_44100)
    # Resampled to the server's rate: the same spacing and pitch.
    play --rate 44100 --record "$work/take.wav" -- "${short_song[@]}"
    expect_status 0
    expect_output "${short_song_output[@]}"
    check_short_song
    ;;
  three_four)
    play --record "$work/take.wav" -- TEST_DEVICE=syst TEST_CHANNEL=3,6 TEST_CHANNELS=6 BEATS_PER_BAR=3 \
      COUNT_IN_BARS=1 SONG_BARS=0,1 TEMPO=200.9
    expect_status 0
    expect_output "Targeting system, channel(s) [3, 6], 200bpm, 3/4, 1-bar count-in, song bars: [0, 1]." \
      "Listen now..." "Built 9 click events, 2.69s total." "Done."
    expect_quiet_stderr
    "$WAV_CHECK" "$work/take.wav" --clicks-on 3,6 --tempo 200.9 --beats-per-bar 3 --count 9 --tolerance-ms 5 \
      || fail "recording"
    ;;
  no_match)
    play -- TEST_DEVICE=nosuch
    expect_status 1
    expect_output "No device matching 'nosuch' — is it connected?"
    expect_quiet_stderr
    ;;
  bad_tempo)
    play -- TEST_DEVICE=system TEMPO=0
    expect_status 1
    expect_output "Targeting system, channel(s) [1], 0bpm, 4/4, 2-bar count-in, song bars: [4, 4, 8]." \
      "Listen now..." "FAILED: Tempo must be a positive, finite number of beats per minute"
    expect_quiet_stderr
    ;;
  *)
    echo "usage: $0 SCENARIO" >&2
    exit 2
    ;;
esac
echo "PASS: $1"
