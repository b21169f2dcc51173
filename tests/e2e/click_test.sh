#!/usr/bin/env bash
# End-to-end checks of the click test mode against a private JACK server. One
# scenario per run:
#   click_test.sh clicks_on_1_2 | clicks_at_44100 | three_four | no_match | bad_tempo
# PLAYER and WAV_CHECK name the programs under test.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
session="$here/jack_session.sh"
: "${PLAYER:?PLAYER names the program}" "${WAV_CHECK:?}"
work=$(mktemp -d "${TMPDIR:-/tmp}/cadenzo-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

# Runs the player in a session; stdout, stderr and status land in $work.
play() {
  local session_options=()
  while [ "$1" != "--" ]; do session_options+=("$1"); shift; done
  shift
  "$session" "${session_options[@]}" -- env TEST_CLICK=1 "$@" "$PLAYER" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -ne 77 ] || exit 77
  echo "--- status $status, standard output:"; cat "$work/out"
  if [ -s "$work/err" ]; then echo "--- standard error:"; cat "$work/err"; fi
}

expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }

expect_output() {
  diff <(printf '%s\n' "$@") "$work/out" >"$work/diff" || { cat "$work/diff"; fail "output differs"; }
}

expect_quiet_stderr() {
  # Only the session's own notes may appear; the program writes nothing there.
  ! grep -v '^jack_session:' "$work/err" | grep -q . || fail "the program wrote to standard error"
}

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
