#!/usr/bin/env bash
# Does keeping the Windows program's window alive during a job slow the copy?
# Times the file job (an HFS volume appended to an ISO image) in
# zelvorant.exe under Wine, from Start to the completion box, as it is and
# with ZELVORANT_NO_PUMP set (the job reads no messages and shows no share,
# as the program once did), in the same run, and prints the ratio.
#
#   BENCH_MB      size of the HFS volume in MiB (default 600; the job refuses
#                 more than a CD-ROM holds)
#   BENCH_ROUNDS  rounds, each timing both (default 5; the median is taken)
#   BENCH_BUILD   the Windows build (default build-win32; made when missing)
#
# The GUI test driver (tests/wine/gui_driver.exe, case bench_file_job) presses
# Start and waits for the completion box, in a fresh Wine prefix under Xvfb.
# The ISO image is copied afresh before every job, untimed; the order of the
# two alternates from round to round. It prints a PASS or FAIL line for the
# goal (at most 1.05 x) but exits 0 either way; non-zero only when it cannot
# run or a job did not complete.
set -euo pipefail
export LC_ALL=C

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
mb=${BENCH_MB:-600}
rounds=${BENCH_ROUNDS:-5}
build=${BENCH_BUILD:-build-win32}
[[ $mb =~ ^[1-9][0-9]*$ ]] || { echo "BENCH_MB must be a whole number of MiB" >&2; exit 2; }
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "BENCH_ROUNDS must be 1 or more" >&2; exit 2; }
# shellcheck source=lib.sh
source bench/lib.sh

if [[ -z ${BENCH_GUI_INNER:-} ]]; then
  for tool in wine wineboot wineserver xvfb-run hformat humount genisoimage hmount; do
    command -v "$tool" >/dev/null || { echo "gui_pump: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
  done
  if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null
  fi
  echo "Building zelvorant.exe and gui_driver.exe in $build/ ..."
  cmake --build "$build" -j"$(nproc)" --target zelvorant gui_driver >/dev/null
  BENCH_GUI_INNER=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0"
fi

mkdir -p out
work=$(mktemp -d "$repo/out/bench-gui.XXXXXX")
export HOME=$work WINEPREFIX=$work/prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=;wnaspi32="
cleanup() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  humount >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
win() { local path=${1//\//\\}; echo "Z:$path"; }

cd "$work"
mkdir -p app data iso-files
cp "$repo/$build/zelvorant.exe" app/
driver=$repo/$build/tests/wine/gui_driver.exe
echo "Making a $mb MiB HFS volume and an ISO 9660 image in $work ..."
head -c $((mb * 1024 * 1024)) /dev/urandom >data/bench.hfs
hformat -l Bench data/bench.hfs 0 >/dev/null
humount >/dev/null
head -c $((1024 * 1024)) /dev/urandom >iso-files/data.bin
genisoimage -quiet -r -V BENCH -o data/bench-plain.iso iso-files
cat data/bench.hfs >/dev/null # into the page cache for every run

timeout 180 wineboot -i >/dev/null 2>&1 || true
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true

# run_job MODE: the job's seconds, MODE "pump" as shipped or "none".
run_job() {
  local out
  sync
  if [[ $1 == none ]]; then
    out=$(ZELVORANT_NO_PUMP=1 wine "$driver" "$(win "$work/app/zelvorant.exe")" "$(win "$work/data")" \
      bench_file_job 2>/dev/null) || true
  else
    out=$(wine "$driver" "$(win "$work/app/zelvorant.exe")" "$(win "$work/data")" \
      bench_file_job 2>/dev/null) || true
  fi
  local seconds
  seconds=$(awk '/^bench_seconds / {print $2}' <<<"$out")
  if [[ -z $seconds ]]; then
    echo "gui_pump: the $1 job did not complete:" >&2
    echo "$out" >&2
    exit 1
  fi
  hmount data/bench.iso 1 >/dev/null && humount >/dev/null ||
    { echo "gui_pump: the hybrid of the $1 job does not mount" >&2; exit 1; }
  echo "$seconds"
}

run_job pump >/dev/null # Wine's first start is slow; not counted
pumped=() silent=()
for ((round = 1; round <= rounds; round++)); do
  if ((round % 2)); then
    pumped+=("$(run_job pump)")
    silent+=("$(run_job none)")
  else
    silent+=("$(run_job none)")
    pumped+=("$(run_job pump)")
  fi
  echo "round $round: with the pump ${pumped[-1]} s, without ${silent[-1]} s"
done
with=$(median "${pumped[@]}")
without=$(median "${silent[@]}")
factor=$(ratio "$with" "$without")
echo "file job, $mb MiB, median of $rounds: with the pump $with s, without $without s, ratio $factor"
if awk -v r="$factor" 'BEGIN {exit !(r <= 1.05)}'; then
  echo "PASS the pump costs at most 1.05 x"
else
  echo "FAIL the pump costs more than 1.05 x"
fi
