#!/usr/bin/env bash
# Shared by the end-to-end scenarios (source it): running a command in a JACK session, and the checks on
# what it printed and what the device received. PLAYER and WAV_CHECK name the programs.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${PLAYER:?}" "${WAV_CHECK:?}"
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
  "$here/${session:-jack_session.sh}" "${options[@]}" -- env "${settings[@]}" "$@" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -ne 77 ] || exit 77
  echo "--- status $status, standard output:"; cat "$work/out"
  if [ -s "$work/err" ]; then echo "--- standard error:"; cat "$work/err"; fi
}

expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }
# The status, the whole output as expect_output takes it and nothing on standard error: expect_run STATUS LINE...
expect_run() { expect_status "$1"; shift; expect_output "$@"; expect_quiet_stderr; }
expect_line() { grep -qx -- "$1" "$work/out" || fail "no line: $1"; }
expect_last_line() { [ "$(tail -n 1 "$work/out")" = "$1" ] || fail "the last line is not: $1"; }

# After `play --kill-server-once-playing`: a failure naming the device, within a second and a half (load).
expect_noticed_loss() {
  expect_status 1
  expect_last_line "FAILED: Lost the output device system (jack:system): it was unplugged, or its audio server stopped"
  expect_quiet_stderr
  local took
  took=$(awk '/server killed at/ { k = $NF } /command ended at/ { e = $NF } END { print e - k }' "$work/err")
  holds "$took < 1.5" || fail "the loss was noticed after $took s"
}

# The whole output. On a machine with sound cards the listing goes on with ALSA
# and PulseAudio devices after JACK's; listing lines beyond the expected ones are dropped.
expect_output() {
  local listed
  listed=$(printf '%s\n' "$@" | grep -c '^  - ')
  awk -v n="$listed" '/^  - / { if (++seen > n) next } { print }' "$work/out" >"$work/compared"
  diff <(printf '%s\n' "$@") "$work/compared" || fail "output differs"
}

# Only the session's own notes may appear on standard error.
expect_quiet_stderr() { ! grep -v '^jack_session:' "$work/err" | grep -q . || fail "output on standard error"; }

# wav_check's report on $work/take.wav, in $work/report; options are its checks. Then from[C] and to[C] are
# the seconds where channel C's sound begins and ends (both -1 when it is silent).
report() {
  "$WAV_CHECK" "$work/take.wav" "$@" >"$work/report" && cat "$work/report" || { cat "$work/report"; fail "recording"; }
  from=() to=()
  while read -r c f t; do from[c]=$f to[c]=$t; done < <(awk '/: energy / {print $2+0, $(NF-4), $(NF-1)}' "$work/report")
}

# True when the arithmetic comparison $1 holds (floating point, in awk).
holds() { awk "BEGIN { exit !($1) }"; }

run_scenario() {
  declare -F "scenario_${1:-}" >/dev/null || { echo "usage: $0 SCENARIO" >&2; exit 2; }
  "scenario_$1"
  echo "PASS: $1"
}
