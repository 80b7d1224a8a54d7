# shellcheck shell=bash
# What both benchmarks share: sourced after `set -euo pipefail`, from the
# repository's root.

# Builds zelvorant-cli (Release, no sanitizers) in build-bench/ and sets $cli.
build_release_cli() {
  bash scripts/install-deps.sh >/dev/null
  echo "Building zelvorant-cli (Release) in build-bench/ ..."
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZELVORANT_SANITIZE=OFF \
    -DZELVORANT_TESTS=OFF >/dev/null
  cmake --build build-bench -j2 --target zelvorant-cli >/dev/null
  # shellcheck disable=SC2034  # read by the benchmarks
  cli=$PWD/build-bench/zelvorant-cli
}

# timed OUTPUT-FILE COMMAND...: runs the command under /usr/bin/time with its
# stdout appended to OUTPUT-FILE and prints the wall-clock seconds; the peak
# memory is left in time.txt. Dirty pages are written out first, so neither
# command pays for the other's; with sync_after=1 the sync after it is timed.
timed() {
  local output=$1
  shift
  sync
  local start=$EPOCHREALTIME
  if ! /usr/bin/time -v -o time.txt "$@" >>"$output"; then return 1; fi
  if [[ ${sync_after:-0} == 1 ]]; then sync; fi
  local end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f\n", b - a}'
}

peak_kib() { awk -F': ' '/Maximum resident set size/ {print $2}' time.txt; }

median() {
  printf '%s\n' "$@" | sort -g |
    awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
