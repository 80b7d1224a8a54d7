#!/usr/bin/env bash
# Checks the style, builds zelvorant four times and runs the tests of each
# build:
#   build/         the ordinary build, every test; then its Debian package,
#                  installed, tried and removed (scripts/test-package.sh)
#   build-generic/ the platform of the other POSIX systems (no SG_IO, no
#                  copy_file_range), Debug, unit tests only
#   build-asan/    Debug, with AddressSanitizer and UndefinedBehaviorSanitizer
#   build-win32/   the 32-bit Windows programs, tested under Wine
#                  (scripts/test-windows.sh)
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

build_and_test "Normal" build -DZELVORANT_SANITIZE=OFF -DZELVORANT_TESTS=ON

printf '\n==> Debian package from build/: built, installed, tried, removed\n'
bash scripts/test-package.sh build || failures+=("Debian package: see test-package above")

# The generic POSIX platform on Linux keeps the macOS and BSD path honest:
# it must build, and the unit tests pass on it. The end-to-end scripts add
# little there and would cost minutes.
printf '\n==> Generic POSIX build in build-generic/, unit tests\n'
# Neither optimised nor with debug information, the quickest to compile,
# since only its compiling and its unit tests matter here. (An empty build
# type would be RelWithDebInfo: the project's default.)
if cmake -S . -B build-generic -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 \
  -DZELVORANT_GENERIC_POSIX=ON \
  -DZELVORANT_TESTS=ON -DZELVORANT_SANITIZE=OFF >/dev/null &&
  cmake --build build-generic -j"$jobs" --target zelvorant-cli zelvorant_tests; then
  ctest --test-dir build-generic --output-on-failure -j"$jobs" -LE e2e ||
    failures+=("Generic POSIX: unit tests")
else
  failures+=("Generic POSIX: configure or build")
fi
# Errors found by the sanitizers end the process with a report and a non-zero
# status, so a test that trips one fails.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
build_and_test "Sanitizer" build-asan -DCMAKE_BUILD_TYPE=Debug -DZELVORANT_SANITIZE=ON -DZELVORANT_TESTS=ON
unset ASAN_OPTIONS UBSAN_OPTIONS

printf '\n==> Windows build in build-win32/, tests under Wine\n'
bash scripts/test-windows.sh || failures+=("Windows: build or tests")

# 20 s each keeps the whole run well inside CI's 15 minutes with five
# targets; FUZZ_SECONDS=600 for a long run by hand.
printf '\n==> Fuzz targets under ASan and UBSan, %s s each\n' "${FUZZ_SECONDS:-20}"
FUZZ_SECONDS=${FUZZ_SECONDS:-20} bash scripts/fuzz.sh || failures+=("Fuzzing: a target found a fault")

echo
if ((${#failures[@]})); then
  printf 'FAILED: %s\n' "${failures[@]}"
  exit 1
fi
echo "All builds and tests passed (build/ and its package, build-generic/, build-asan/ and build-win32/), and the fuzz targets found nothing."
