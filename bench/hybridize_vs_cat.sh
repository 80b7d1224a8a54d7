#!/usr/bin/env bash
# How fast does zelvorant-cli make an ISO image hybrid, next to the plainest
# way of appending the same bytes, `cat hfs.img >> copy.iso`, on the same
# machine in the same run?
#
#   BENCH_MB      size of the HFS volume in MiB (default 650, a full CD-ROM)
#   BENCH_ROUNDS  rounds, each timing both (default 5; the median is taken)
#   BENCH_DIR     where the images are made (default out/bench; removed after)
#   BENCH_SYNC=1  also time a `sync` after each command (default: neither is
#                 synced: both measure the copy into the page cache)
#   BENCH_KEEP=1  keep the images
#
# Fairness: the ISO image is copied afresh before every timed command and
# that copy is not timed; dirty pages are written out (sync) before each
# timed command; the HFS volume is read once beforehand, so both commands
# find it in the page cache; both commands are started the same way, under
# /usr/bin/time, and the order alternates from round to round.
#
# It prints PASS/FAIL lines for the goals (time at most 1.10 x cat, peak
# memory under 16 MiB) but exits 0 either way: it measures, it does not
# test. It exits non-zero only when it cannot run, or when the hybrid image
# it made is wrong.
set -euo pipefail
export LC_ALL=C  # a decimal point in $EPOCHREALTIME, whatever the locale

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

mb=${BENCH_MB:-650}
rounds=${BENCH_ROUNDS:-5}
work=${BENCH_DIR:-$repo/out/bench}
sync_after=${BENCH_SYNC:-0}
[[ $mb =~ ^[1-9][0-9]*$ ]] || { echo "BENCH_MB must be a whole number of MiB" >&2; exit 2; }
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "BENCH_ROUNDS must be 1 or more" >&2; exit 2; }

source bench/lib.sh
build_release_cli

mkdir -p "$work"
# The HFS volume, two copies of the result and some slack: 3 GB at the
# default size.
need_kib=$((mb * 1024 * 9 / 2))
free_kib=$(df -Pk "$work" | awk 'NR == 2 {print $4}')
if ((free_kib < need_kib)); then
  printf 'Not enough free space in %s: %d MiB free, %d MiB needed. Set BENCH_DIR or BENCH_MB.\n' \
    "$work" $((free_kib / 1024)) $((need_kib / 1024)) >&2
  exit 1
fi

cd "$work"
export HOME=$work/home  # hfsutils' state file stays in here
mkdir -p "$HOME" iso-files
cleanup() {
  humount >/dev/null 2>&1 || true
  if [[ ${BENCH_KEEP:-0} != 1 ]]; then
    rm -rf hfs.img cd.iso a.iso b.iso iso-files home time.txt cli.err
    cd / && rmdir "$work" 2>/dev/null || true
  fi
}
trap cleanup EXIT

echo "Making a $mb MiB HFS volume of random data and an ISO 9660 image in $work ..."
head -c $((mb * 1024 * 1024)) /dev/urandom >hfs.img
hformat -l Bench hfs.img 0 >/dev/null
humount >/dev/null
for i in 1 2 3 4; do head -c $((1024 * 1024)) /dev/urandom >"iso-files/data$i.bin"; done
genisoimage -quiet -r -J -V BENCH -o cd.iso iso-files
hfs_bytes=$(stat -c %s hfs.img)
iso_bytes=$(stat -c %s cd.iso)
padded=$(((iso_bytes + 511) / 512 * 512))
cat hfs.img >/dev/null  # into the page cache for both


run_cat() {
  rm -f a.iso
  cp cd.iso a.iso
  timed a.iso cat hfs.img
}
run_cli() {
  rm -f b.iso
  cp cd.iso b.iso
  # Only cat writes the image through its stdout; the CLI's completion
  # message is thrown away.
  timed /dev/null "$cli" --from-file hfs.img --to-iso b.iso --yes 2>cli.err
}

# The hybrid image must be right, or the time means nothing.
check_hybrid() {
  local bytes
  bytes=$(stat -c %s b.iso)
  ((bytes == padded + hfs_bytes)) || { echo "b.iso is $bytes bytes, expected $((padded + hfs_bytes))" >&2; exit 1; }
  [[ $(head -c 2 b.iso) == ER ]] || { echo "b.iso has no partition map" >&2; exit 1; }
  cmp -s -i 32768 -n $((iso_bytes - 32768)) b.iso cd.iso || { echo "b.iso: ISO data changed" >&2; exit 1; }
  cmp -s -i "$padded:0" -n "$hfs_bytes" b.iso hfs.img || { echo "b.iso: appended data differ from hfs.img" >&2; exit 1; }
}

# One untimed round of each first: the first large write after the images
# were made pays for the kernel's writeback of them, whichever command it is.
run_cat >/dev/null
run_cli >/dev/null || { cat cli.err >&2; exit 1; }

cat_times=() cli_times=() cli_peaks=()
printf '\nHFS volume %d bytes (%d MiB), ISO image %d bytes; %d rounds%s\n' \
  "$hfs_bytes" "$mb" "$iso_bytes" "$rounds" "$([[ $sync_after == 1 ]] && echo ', sync timed' || true)"
printf '%-6s %12s %12s %14s\n' round "cat (s)" "cli (s)" "cli peak (KiB)"
for ((round = 1; round <= rounds; ++round)); do
  if ((round % 2)); then
    t_cat=$(run_cat)
    t_cli=$(run_cli) || { cat cli.err >&2; exit 1; }
    peak=$(peak_kib)
  else
    t_cli=$(run_cli) || { cat cli.err >&2; exit 1; }
    peak=$(peak_kib)
    t_cat=$(run_cat)
  fi
  check_hybrid
  cat_times+=("$t_cat") cli_times+=("$t_cli") cli_peaks+=("$peak")
  printf '%-6d %12s %12s %14s\n' "$round" "$t_cat" "$t_cli" "$peak"
done

cat_median=$(median "${cat_times[@]}")
cli_median=$(median "${cli_times[@]}")
peak_max=$(printf '%s\n' "${cli_peaks[@]}" | sort -n | tail -1)
ratio=$(awk -v a="$cli_median" -v b="$cat_median" 'BEGIN {printf "%.3f", a / b}')
peak_mib=$(awk -v k="$peak_max" 'BEGIN {printf "%.1f", k / 1024}')
mib_per_s() { awk -v s="$1" -v b="$hfs_bytes" 'BEGIN {printf "%.0f", b / 1048576 / s}'; }

echo
printf 'median cat:           %s s  (%s MiB/s)\n' "$cat_median" "$(mib_per_s "$cat_median")"
printf 'median zelvorant-cli: %s s  (%s MiB/s)\n' "$cli_median" "$(mib_per_s "$cli_median")"
printf 'ratio cli/cat:        %s\n' "$ratio"
printf 'cli peak memory:      %s MiB (maximum resident set size)\n' "$peak_mib"
echo "hybrid image checked: length, map, ISO data and appended HFS bytes all as expected"
echo
awk -v r="$ratio" 'BEGIN {exit !(r <= 1.10)}' && echo "PASS time: ratio $ratio <= 1.10" ||
  echo "FAIL time: ratio $ratio > 1.10"
awk -v k="$peak_max" 'BEGIN {exit !(k < 16 * 1024)}' && echo "PASS memory: $peak_mib MiB < 16 MiB" ||
  echo "FAIL memory: $peak_mib MiB >= 16 MiB"
exit 0
