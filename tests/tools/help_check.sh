#!/usr/bin/env bash
# usage: help_check.sh PROGRAM README VERSION
set -euo pipefail
program=$1 readme=$2 version=$3
unset DISPLAY WAYLAND_DISPLAY
[ "$("$program" --version)" = "cadenzo-player $version" ] || { echo "--version: wrong text"; exit 1; }
help=$("$program" ignored --help)
names=$(sed -n 's/^| `\([A-Z_]*\)` |.*/\1/p' "$readme")
[ -n "$names" ] || { echo "no variables found in $readme"; exit 1; }
for name in $names; do
  grep -q "^  $name=" <<<"$help" || { echo "--help lacks $name"; exit 1; }
done
