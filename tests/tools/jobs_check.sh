#!/usr/bin/env bash
# scripts/jobs against stand-ins for nproc and /proc/meminfo: the lesser of the cores and available GiB / 2, at least 1.
set -uo pipefail
jobs="$(cd "$(dirname "$0")/../.." && pwd)/scripts/jobs"
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
fail=0
# cores, MemFree and MemAvailable in kB (free memory is what the page cache can give back too), expected jobs
while read -r cores free available expected; do
  printf '#!/bin/sh\necho %s\n' "$cores" >"$bin/nproc" && chmod +x "$bin/nproc"
  printf 'MemTotal: 67108864 kB\nMemFree: %s kB\nMemAvailable: %s kB\n' "$free" "$available" >"$bin/meminfo"
  got=$(PATH="$bin:$PATH" MEMINFO="$bin/meminfo" bash "$jobs")
  [ "$got" = "$expected" ] || { echo "$cores cores, $available kB available: $got jobs, expected $expected"; fail=1; }
done <<'TABLE'
2  1048576  24117248 2
8  1048576  6291456  3
16 1048576  4194303  1
4  8388608  1048576  1
1  1048576  67108864 1
TABLE
exit "$fail"
