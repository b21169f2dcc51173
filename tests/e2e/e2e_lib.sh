#!/usr/bin/env bash
# Shared by the end-to-end scenarios: a scratch folder, running a command in a
# private JACK session, and the checks on what it printed and what the device
# received. Source it; PLAYER names the program under test.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${PLAYER:?PLAYER names the program}"
work=$(mktemp -d "${TMPDIR:-/tmp}/cadenzo-e2e.XXXXXX")
cleanups=("rm -rf '$work'")
trap 'for c in "${cleanups[@]}"; do eval "$c"; done' EXIT

fail() { echo "FAIL: $*"; exit 1; }

unset http_proxy https_proxy all_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY  # pages come from the loopback

# play [SESSION OPTIONS] -- [VAR=value...] [COMMAND...]: runs COMMAND (the player when none is
# given) in a JACK session with those settings; stdout, stderr and status land in $work.
play() {
  local options=() settings=()
  while [ "$1" != "--" ]; do options+=("$1"); shift; done
  shift
  while [[ "${1:-}" =~ ^[A-Z_]+= ]]; do settings+=("$1"); shift; done
  [ $# -gt 0 ] || set -- "$PLAYER"
  "$here/jack_session.sh" "${options[@]}" -- env "${settings[@]}" "$@" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -ne 77 ] || exit 77
  echo "--- status $status, standard output:"; cat "$work/out"
  if [ -s "$work/err" ]; then echo "--- standard error:"; cat "$work/err"; fi
}

expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }
expect_line() { grep -qx -- "$1" "$work/out" || fail "no line: $1"; }
expect_last_line() { [ "$(tail -n 1 "$work/out")" = "$1" ] || fail "the last line is not: $1"; }

# The whole output. On a machine with sound cards the listing goes on with ALSA
# and PulseAudio devices after JACK's; listing lines beyond the expected ones are dropped.
expect_output() {
  local listed
  listed=$(printf '%s\n' "$@" | grep -c '^  - ')
  awk -v n="$listed" '/^  - / { if (++seen > n) next } { print }' "$work/out" >"$work/compared"
  diff <(printf '%s\n' "$@") "$work/compared" || fail "output differs"
}

# Only the session's own notes may appear on standard error.
expect_quiet_stderr() { ! grep -v '^jack_session:' "$work/err" | grep -q . || fail "the program wrote to standard error"; }

# The report of $work/take.wav, in $work/report.
report() { "$WAV_CHECK" "$work/take.wav" >"$work/report" || fail "no recording"; cat "$work/report"; }

# "FROM TO" in seconds for channel $1 of the report (both -1 when it is silent).
sound_span() { awk -v c="channel $1:" 'index($0, c) == 1 { print $(NF-4), $(NF-1) }' "$work/report"; }
frequency_of() { awk -v c="channel $1:" 'index($0, c) == 1 { print $8 }' "$work/report"; }

# True when the arithmetic comparison $1 holds (floating point, in awk).
holds() { awk "BEGIN { exit !($1) }"; }

# Of the 8 recorded channels, exactly those listed in $1 ("3 5 7") carry sound.
expect_sound_only_on() {
  local c from to
  for c in 1 2 3 4 5 6 7 8; do
    read -r from to < <(sound_span "$c")
    if [[ " $1 " == *" $c "* ]]; then holds "$from >= 0" || fail "channel $c is silent"
    else holds "$from < 0" || fail "channel $c carries sound"; fi
  done
}

# Runs one scenario: the function of that name, then PASS.
run_scenario() {
  declare -F "scenario_${1:-}" >/dev/null || { echo "usage: $0 SCENARIO" >&2; exit 2; }
  "scenario_$1"
  echo "PASS: $1"
}
