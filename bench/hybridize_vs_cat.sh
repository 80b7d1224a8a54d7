#!/usr/bin/env bash
# How fast does zelvorant-cli make an ISO image hybrid, next to the plainest
# way of appending the same bytes, `cat hfs.img >> copy.iso && sync`, on the
# same machine in the same run? The job puts the appended data and then the
# map on the disk before it reports completion; cat leaves its bytes in the
# page cache, so it is timed both ways: with the sync (the goal's measure)
# and without (what the durability costs on top of a plain copy).
#
#   BENCH_MB      size of the HFS volume in MiB (default 650, a full CD-ROM)
#   BENCH_ROUNDS  rounds, each timing both (default 5; the median is taken)
#   BENCH_DIR     where the images are made (default out/bench; removed after)
#   BENCH_KEEP=1  keep the images
#
# Fairness: the ISO image is copied afresh before every timed command and
# that copy is not timed; dirty pages are written out (sync) before each
# timed command; the HFS volume is read once beforehand, so both commands
# find it in the page cache; both commands are started the same way, under
# /usr/bin/time, and the order alternates from round to round. The sync
# after a command is `sync FILE` on the file it wrote, so that other
# programs' dirty pages are not counted.
#
# It prints PASS/FAIL lines for the goals (time with the sync at most 1.10 x
# cat's, peak memory under 16 MiB) but exits 0 either way: it measures, it
# does not test. It exits non-zero only when it cannot run, or when the
# hybrid image it made is wrong.
set -euo pipefail
export LC_ALL=C  # a decimal point in $EPOCHREALTIME, whatever the locale

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

mb=${BENCH_MB:-650}
rounds=${BENCH_ROUNDS:-5}
work=${BENCH_DIR:-$repo/out/bench}
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
  timed a.iso a.iso cat hfs.img
}
run_cli() {
  rm -f b.iso
  cp cd.iso b.iso
  # Only cat writes the image through its stdout; the CLI's completion
  # message is thrown away.
  timed /dev/null b.iso "$cli" --from-file hfs.img --to-iso b.iso --yes 2>cli.err
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

cat_plain=() cat_synced=() cli_plain=() cli_synced=() cli_peaks=()
printf '\nHFS volume %d bytes (%d MiB), ISO image %d bytes; %d rounds\n' \
  "$hfs_bytes" "$mb" "$iso_bytes" "$rounds"
printf '%-6s %10s %14s %10s %14s %14s\n' round "cat (s)" "cat+sync (s)" "cli (s)" "cli+sync (s)" \
  "cli peak (KiB)"
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
  read -r cat_p cat_s <<<"$t_cat"
  read -r cli_p cli_s <<<"$t_cli"
  cat_plain+=("$cat_p") cat_synced+=("$cat_s") cli_plain+=("$cli_p") cli_synced+=("$cli_s")
  cli_peaks+=("$peak")
  printf '%-6d %10s %14s %10s %14s %14s\n' "$round" "$cat_p" "$cat_s" "$cli_p" "$cli_s" "$peak"
done

m_cat=$(median "${cat_plain[@]}") m_cat_sync=$(median "${cat_synced[@]}")
m_cli=$(median "${cli_plain[@]}") m_cli_sync=$(median "${cli_synced[@]}")
with_sync=$(ratio "$m_cli_sync" "$m_cat_sync")
without_sync=$(ratio "$m_cli" "$m_cat")
peak_max=$(printf '%s\n' "${cli_peaks[@]}" | sort -n | tail -1)
peak_mib=$(awk -v k="$peak_max" 'BEGIN {printf "%.1f", k / 1024}')
mib_per_s() { awk -v s="$1" -v b="$hfs_bytes" 'BEGIN {printf "%.0f", b / 1048576 / s}'; }

echo
printf 'median cat >> iso && sync:      %s s  (%s MiB/s)\n' "$m_cat_sync" "$(mib_per_s "$m_cat_sync")"
printf 'median zelvorant-cli (+ sync):  %s s  (%s MiB/s)\n' "$m_cli_sync" "$(mib_per_s "$m_cli_sync")"
printf 'median cat >> iso, no sync:     %s s  (%s MiB/s)\n' "$m_cat" "$(mib_per_s "$m_cat")"
printf 'median zelvorant-cli alone:     %s s  (%s MiB/s)\n' "$m_cli" "$(mib_per_s "$m_cli")"
printf 'ratio cli/cat, with sync:       %s\n' "$with_sync"
printf 'ratio cli/cat, without sync:    %s  (the job syncs; cat does not)\n' "$without_sync"
printf 'cli peak memory:                %s MiB (maximum resident set size)\n' "$peak_mib"
echo "hybrid image checked: length, map, ISO data and appended HFS bytes all as expected"
echo
awk -v r="$with_sync" 'BEGIN {exit !(r <= 1.10)}' && echo "PASS time: ratio with sync $with_sync <= 1.10" ||
  echo "FAIL time: ratio with sync $with_sync > 1.10"
awk -v k="$peak_max" 'BEGIN {exit !(k < 16 * 1024)}' && echo "PASS memory: $peak_mib MiB < 16 MiB" ||
  echo "FAIL memory: $peak_mib MiB >= 16 MiB"
exit 0
