#!/usr/bin/env bash
# scripts/setup against stand-ins for dpkg-query, apt-get, sudo and id: as root it runs apt-get itself,
# otherwise through sudo, and it installs only what is missing.
set -uo pipefail
setup="$(cd "$(dirname "$0")/../.." && pwd)/scripts/setup"
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
stub() { printf '#!/bin/sh\n%s\n' "$2" >"$bin/$1"; chmod +x "$bin/$1"; }
stub dpkg-query 'case "$*" in *cmake*) echo "install ok installed";; esac'
stub apt-get 'echo "apt-get $*" >>"$LOG"'
stub debconf-set-selections 'cat >/dev/null'
stub sudo 'echo "sudo $*" >>"$LOG"; [ "$1" = -E ] && shift; exec "$@"'
fail=0
for uid in 0 1000; do
  stub id "echo $uid"
  export LOG="$bin/log.$uid"
  PATH="$bin:$PATH" bash "$setup" >/dev/null 2>&1 || { echo "setup failed as uid $uid"; fail=1; }
  install=$(grep '^apt-get .*install' "$LOG")
  case "$install" in *" nodejs"*) ;; *) echo "uid $uid: no install of what is missing"; fail=1;; esac
  case "$install" in *" cmake "*) echo "uid $uid: installs what is there"; fail=1;; esac
  sudo_lines=$(grep -c '^sudo' "$LOG")
  { [ "$uid" = 0 ] && [ "$sudo_lines" = 0 ]; } || { [ "$uid" != 0 ] && [ "$sudo_lines" -gt 0 ]; } \
    || { echo "uid $uid: sudo used $sudo_lines time(s)"; fail=1; }
done
[ "$fail" = 0 ] && echo "setup check passed"
exit "$fail"
