#!/usr/bin/env bash
# Checks the style, builds zelvorant five times and runs the tests of each
# build:
#   build/         the ordinary build, every test; then its Debian package,
#                  installed, tried and removed (scripts/test-package.sh)
#   build-generic/ the platform of the other POSIX systems (no SG_IO, no
#                  copy_file_range), Debug, unit tests only
#   build-asan/    Debug, with AddressSanitizer and UndefinedBehaviorSanitizer
#   build-win32/   the 32-bit Windows programs, tested under Wine
#                  (scripts/test-windows.sh)
#   build-fuzz/    the libFuzzer targets, built with clang and run for a
#                  short time each (scripts/fuzz.sh)
# Every build runs even when an earlier one fails, so one run reports
# everything, and the run ends with a table of its steps and their times.
# Compiles through ccache when it is installed (scripts/ccache-env.sh).
# JOBS (default: the number of cores) sets the parallel compiles and tests.
# Exits non-zero when anything failed.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
JOBS=${JOBS:-$(nproc)}
export JOBS
failures=()
phase_names=() phase_seconds=() phase_results=()

# phase NAME COMMAND...: runs one step, timed; a failure is counted and the
# run goes on.
phase() {
  local name=$1 start=$SECONDS status=0
  shift
  printf '\n==> %s\n' "$name"
  "$@" || status=$?
  phase_names+=("$name")
  phase_seconds+=($((SECONDS - start)))
  if ((status)); then
    phase_results+=(FAILED)
    failures+=("$name")
  else
    phase_results+=(ok)
  fi
  return "$status"
}

phase "Packages (scripts/install-deps.sh)" bash scripts/install-deps.sh || true
# After the packages: ccache may just have come.
# shellcheck source=scripts/ccache-env.sh
source scripts/ccache-env.sh
phase "Style: clang-format and shellcheck" bash scripts/check-style.sh || true

# configure_and_build DIR CMAKE-ARGS... [-- BUILD-ARGS...]
configure_and_build() {
  local dir=$1 configure=()
  shift
  while (($#)) && [[ $1 != -- ]]; do
    configure+=("$1")
    shift
  done
  (($#)) && shift
  cmake -S . -B "$dir" "${configure[@]}" >/dev/null && cmake --build "$dir" -j"$JOBS" "$@"
}

# build_and_test NAME DIR CMAKE-ARGS...
build_and_test() {
  local name=$1 dir=$2
  shift 2
  phase "$name: configure and build in $dir/" configure_and_build "$dir" "$@" || return 0
  phase "$name: tests" ctest --test-dir "$dir" --output-on-failure -j"$JOBS" || true
}

# Release, as scripts/demo.sh builds it (so the two never reconfigure each
# other's build): debug information made every compile half as long again.
build_and_test "Normal" build -DCMAKE_BUILD_TYPE=Release -DZELVORANT_SANITIZE=OFF -DZELVORANT_TESTS=ON

phase "Debian package from build/: built, installed, tried, removed" \
  bash scripts/test-package.sh build || true

# The generic POSIX platform on Linux keeps the macOS and BSD path honest:
# it must build, and the unit tests pass on it. The end-to-end scripts add
# little there and would cost minutes. It is built with the flags of build/,
# so that ccache hands it every object build/ has just compiled and only the
# platform's twins are compiled anew: after a change to a widely included
# header it takes half a minute, where a build of its own at -O0 took a
# minute and a half.
if phase "Generic POSIX: configure and build in build-generic/" \
  configure_and_build build-generic -DCMAKE_BUILD_TYPE=Release \
  -DZELVORANT_GENERIC_POSIX=ON -DZELVORANT_TESTS=ON -DZELVORANT_SANITIZE=OFF \
  -- --target zelvorant-cli zelvorant_tests; then
  phase "Generic POSIX: unit tests" \
    ctest --test-dir build-generic --output-on-failure -j"$JOBS" -LE e2e || true
fi

# Errors found by the sanitizers end the process with a report and a non-zero
# status, so a test that trips one fails.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Line tables only (-g1): a sanitizer's report still names every file and
# line, and a build after a change to a widely included header compiles a
# good third faster than with full debug information.
build_and_test "Sanitizer" build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
  -DZELVORANT_SANITIZE=ON -DZELVORANT_TESTS=ON
unset ASAN_OPTIONS UBSAN_OPTIONS

phase "Windows: build in build-win32/, tests under Wine" bash scripts/test-windows.sh || true

# Five targets of 10 s each, run side by side on the cores, take half a
# minute, which keeps the whole run inside CI's limit after a change that
# recompiles nearly everything; FUZZ_SECONDS=600 for a long run by hand.
phase "Fuzz targets under ASan and UBSan, ${FUZZ_SECONDS:-10} s each" \
  env FUZZ_SECONDS="${FUZZ_SECONDS:-10}" bash scripts/fuzz.sh || true

# The time of every step, so that the next slow one shows at once.
printf '\n%-66s %7s  %s\n' "Phase" "seconds" "result"
for i in "${!phase_names[@]}"; do
  printf '%-66s %7d  %s\n' "${phase_names[$i]}" "${phase_seconds[$i]}" "${phase_results[$i]}"
done
printf '%-66s %7d\n' "Whole run (JOBS=$JOBS)" "$SECONDS"
if command -v ccache >/dev/null 2>&1; then
  ccache --show-stats 2>/dev/null | grep -E '^(Cacheable calls|  Hits|  Misses)' || true
fi

echo
if ((${#failures[@]})); then
  printf 'FAILED: %s\n' "${failures[@]}"
  exit 1
fi
echo "All builds and tests passed (build/ and its package, build-generic/, build-asan/ and build-win32/), and the fuzz targets found nothing."
