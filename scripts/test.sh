#!/usr/bin/env bash
# Checks the style, builds zelvorant three times and runs every test in each
# build:
#   build/       the ordinary build
#   build-asan/  Debug, with AddressSanitizer and UndefinedBehaviorSanitizer
#   build-win32/ the 32-bit Windows programs, tested under Wine
#                (scripts/test-windows.sh)
# Every build runs even when an earlier one fails, so one run reports
# everything. Exits non-zero when anything failed.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
jobs=${JOBS:-2}

bash scripts/install-deps.sh

failures=()

printf '\n==> Style: clang-format and shellcheck\n'
bash scripts/check-style.sh || failures+=("Style: see check-style above")

# build_and_test NAME DIR CMAKE-ARGS...
build_and_test() {
  local name=$1 dir=$2
  shift 2
  printf '\n==> %s build in %s/\n' "$name" "$dir"
  if ! cmake -S . -B "$dir" "$@"; then
    failures+=("$name: configure")
    return
  fi
  if ! cmake --build "$dir" -j"$jobs"; then
    failures+=("$name: build")
    return
  fi
  printf '\n==> %s tests\n' "$name"
  if ! ctest --test-dir "$dir" --output-on-failure -j"$jobs"; then
    failures+=("$name: tests")
  fi
}

build_and_test "Normal" build -DZELVORANT_SANITIZE=OFF
# Errors found by the sanitizers end the process with a report and a non-zero
# status, so a test that trips one fails.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
build_and_test "Sanitizer" build-asan -DCMAKE_BUILD_TYPE=Debug -DZELVORANT_SANITIZE=ON
unset ASAN_OPTIONS UBSAN_OPTIONS

printf '\n==> Windows build in build-win32/, tests under Wine\n'
bash scripts/test-windows.sh || failures+=("Windows: build or tests")

printf '\n==> Fuzz targets under ASan and UBSan, %s s each\n' "${FUZZ_SECONDS:-30}"
FUZZ_SECONDS=${FUZZ_SECONDS:-30} bash scripts/fuzz.sh || failures+=("Fuzzing: a target found a fault")

echo
if ((${#failures[@]})); then
  printf 'FAILED: %s\n' "${failures[@]}"
  exit 1
fi
echo "All builds and tests passed (build/, build-asan/ and build-win32/), and the fuzz targets found nothing."
