#!/usr/bin/env bash
# usage: help_check.sh PROGRAM README VERSION MANPAGE
# --help and the manual page name every variable the README documents.
set -euo pipefail
program=$1 readme=$2 version=$3 manpage=$4
unset DISPLAY WAYLAND_DISPLAY
[ "$("$program" --version)" = "cadenzo-player $version" ] || { echo "--version: wrong text"; exit 1; }
help=$("$program" ignored --help)
# As a reader sees it: roff escapes undone, one line per variable.
manual=$(MANWIDTH=200 man --local-file "$manpage" 2>/dev/null | col -b)
names=$(sed -n 's/^| `\([A-Z_]*\)` |.*/\1/p' "$readme")
[ -n "$names" ] || { echo "no variables found in $readme"; exit 1; }
for name in $names; do
  grep -q "^  $name=" <<<"$help" || { echo "--help lacks $name"; exit 1; }
  grep -Eq "^ +$name=" <<<"$manual" || { echo "the manual page lacks $name"; exit 1; }
done
