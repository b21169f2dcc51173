#!/usr/bin/env bash
# Shared by the end-to-end scenarios: a scratch folder, running the player in a
# private JACK session, and the checks on what it printed. Source it; PLAYER
# names the program under test.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
session="$here/jack_session.sh"
: "${PLAYER:?PLAYER names the program}"
work=$(mktemp -d "${TMPDIR:-/tmp}/cadenzo-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

# Runs the player in a session; stdout, stderr and status land in $work.
play() {
  local session_options=() 
  while [ "$1" != "--" ]; do session_options+=("$1"); shift; done
  shift
  "$session" "${session_options[@]}" -- env "$@" "$PLAYER" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -ne 77 ] || exit 77
  echo "--- status $status, standard output:"; cat "$work/out"
  if [ -s "$work/err" ]; then echo "--- standard error:"; cat "$work/err"; fi
}

expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }

# On a machine with sound cards the listing goes on with ALSA and PulseAudio
# devices after JACK's; listing lines beyond the expected ones are dropped.
expect_output() {
  local listed
  listed=$(printf '%s\n' "$@" | grep -c '^  - ')
  awk -v n="$listed" '/^  - / { if (++seen > n) next } { print }' "$work/out" >"$work/compared"
  diff <(printf '%s\n' "$@") "$work/compared" >"$work/diff" || { cat "$work/diff"; fail "output differs"; }
}

expect_quiet_stderr() {
  # Only the session's own notes may appear; the program writes nothing there.
  ! grep -v '^jack_session:' "$work/err" | grep -q . || fail "the program wrote to standard error"
}

# From a wav_check report in $work/report: "FROM TO" in seconds for channel $1
# (both -1 when it is silent).
sound_span() { awk -v c="channel $1:" 'index($0, c) == 1 { print $(NF-4), $(NF-1) }' "$work/report"; }

# True when the arithmetic comparison $1 holds (floating point, in awk).
holds() { awk "BEGIN { exit !($1) }"; }

# Of the 8 recorded channels, exactly those listed in $1 ("3 5 7") carry sound.
expect_sound_only_on() {
  local c from to
  for c in 1 2 3 4 5 6 7 8; do
    read -r from to < <(sound_span "$c")
    if [[ " $1 " == *" $c "* ]]; then
      holds "$from >= 0" || fail "channel $c is silent"
    else
      holds "$from < 0" || fail "channel $c carries sound"
    fi
  done
}
