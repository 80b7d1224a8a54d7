# shellcheck shell=bash
# What both benchmarks share: sourced after `set -euo pipefail`, from the
# repository's root.

# Builds zelvorant-cli and any further TARGETs (Release, no sanitizers) in
# build-bench/ and sets $cli.
build_release_cli() {  # [TARGET...]
  bash scripts/install-deps.sh >/dev/null
  echo "Building zelvorant-cli (Release) in build-bench/ ..."
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZELVORANT_SANITIZE=OFF \
    -DZELVORANT_TESTS=OFF >/dev/null
  cmake --build build-bench -j"$(nproc)" --target zelvorant-cli "$@" >/dev/null
  # shellcheck disable=SC2034  # read by the benchmarks
  cli=$PWD/build-bench/zelvorant-cli
}

# timed OUTPUT-FILE WRITTEN-FILE COMMAND...: runs the command under
# /usr/bin/time with its stdout appended to OUTPUT-FILE, then `sync`s
# WRITTEN-FILE, and prints two wall-clock times in seconds: the command's,
# and the command's with that sync (until the written bytes are on the
# disk). The peak memory is left in time.txt. Dirty pages of the whole
# machine are written out first, so neither command pays for the other's.
timed() {
  local output=$1 written=$2
  shift 2
  sync
  local start=$EPOCHREALTIME
  if ! /usr/bin/time -v -o time.txt "$@" >>"$output"; then return 1; fi
  local ran=$EPOCHREALTIME
  sync "$written"
  local end=$EPOCHREALTIME
  awk -v a="$start" -v b="$ran" -v c="$end" 'BEGIN {printf "%.3f %.3f\n", b - a, c - a}'
}

peak_kib() { awk -F': ' '/Maximum resident set size/ {print $2}' time.txt; }

# ratio A B: A / B to three places.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

median() {
  printf '%s\n' "$@" | sort -g |
    awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
