#!/usr/bin/env bash
# How fast does zelvorant-cli copy an HFS volume from a SCSI disk into an HFS
# image file, next to the plainest way of reading the same bytes and writing
# them, `cat disk.img > copy.img && sync`, on the same machine in the same
# run? The disk is the simulated SCSI bus with no delay, backed by disk.img,
# so the figure is what the request layer, the block copier and the job cost
# on top of the file copy. The job puts the new image on the disk before it
# takes the target's place; cat is timed with the sync (the goal's measure)
# and without.
#
#   BENCH_MB      size of the volume in MiB (default 300)
#   BENCH_ROUNDS  rounds, each timing both (default 5; the median is taken)
#   BENCH_DIR     where the images are made (default out/bench-extract)
#   BENCH_KEEP=1  keep the images
#
# Fairness: the disk image is read once beforehand, so both commands find it
# in the page cache; dirty pages are written out (sync) before each timed
# command; both run under /usr/bin/time; the order alternates by round; the
# sync after a command is `sync FILE` on the file it wrote.
#
# It prints PASS/FAIL lines for the goals (time with the sync at most 1.20 x
# cat's, peak memory under 16 MiB) and exits 0 either way; it exits non-zero only when it
# cannot run or the image it made is wrong.
set -euo pipefail
export LC_ALL=C

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
mb=${BENCH_MB:-300}
rounds=${BENCH_ROUNDS:-5}
work=${BENCH_DIR:-$repo/out/bench-extract}
[[ $mb =~ ^[1-9][0-9]*$ ]] || { echo "BENCH_MB must be a whole number of MiB" >&2; exit 2; }
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "BENCH_ROUNDS must be 1 or more" >&2; exit 2; }

source bench/lib.sh
build_release_cli

mkdir -p "$work"
need_kib=$((mb * 1024 * 7 / 2))
free_kib=$(df -Pk "$work" | awk 'NR == 2 {print $4}')
if ((free_kib < need_kib)); then
  printf 'Not enough free space in %s: %d MiB free, %d MiB needed.\n' \
    "$work" $((free_kib / 1024)) $((need_kib / 1024)) >&2
  exit 1
fi
cd "$work"
cleanup() {
  if [[ ${BENCH_KEEP:-0} != 1 ]]; then
    rm -f disk.img a.img b.img time.txt cli.err
    cd / && rmdir "$work" 2>/dev/null || true
  fi
}
trap cleanup EXIT

# An Apple-partitioned disk: Driver Descriptor, the map's own entry, one
# Apple_HFS partition of random data filling the rest.
echo "Making a $mb MiB Apple-partitioned disk image in $work ..."
blocks=$((mb * 2048))
head -c $((blocks * 512)) /dev/urandom >disk.img
python3 - disk.img "$blocks" <<'PY'
import struct, sys
path, total = sys.argv[1], int(sys.argv[2])
entries = [("Apple_partition_map", "Apple", 1, 63), ("Apple_HFS", "Bench", 64, total - 64)]
with open(path, "r+b") as out:
    out.write(struct.pack(">2sHI", b"ER", 512, total).ljust(512, b"\0"))
    for kind, name, first, count in entries:
        out.write(struct.pack(">2sHIII32s32s", b"PM", 0, len(entries), first, count,
                              name.encode(), kind.encode()).ljust(512, b"\0"))
PY
bytes=$(stat -c %s disk.img)
cat disk.img >/dev/null

run_cat() { rm -f a.img; timed a.img a.img cat disk.img; }
run_cli() {
  rm -f b.img
  timed /dev/null b.img "$cli" --attach disk:0:0=disk.img --from-drive A000 --to-hfs-image b.img 2>cli.err
}

run_cat >/dev/null
run_cli >/dev/null || { cat cli.err >&2; exit 1; }
cmp -s b.img disk.img || { echo "b.img differs from the disk" >&2; exit 1; }

cat_plain=() cat_synced=() cli_plain=() cli_synced=() cli_peaks=()
printf '\nVolume %d bytes (%d MiB); %d rounds\n' "$bytes" "$mb" "$rounds"
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
  cmp -s b.img disk.img || { echo "b.img differs from the disk" >&2; exit 1; }
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
echo
printf 'median cat > img && sync:      %s s\n' "$m_cat_sync"
printf 'median zelvorant-cli (+ sync): %s s\n' "$m_cli_sync"
printf 'median cat > img, no sync:     %s s\n' "$m_cat"
printf 'median zelvorant-cli alone:    %s s\n' "$m_cli"
printf 'ratio cli/cat, with sync:      %s\n' "$with_sync"
printf 'ratio cli/cat, without sync:   %s  (the job syncs; cat does not)\n' "$without_sync"
printf 'cli peak memory:               %s MiB (maximum resident set size)\n' "$peak_mib"
echo "extracted image checked: byte-identical to the disk"
echo
awk -v r="$with_sync" 'BEGIN {exit !(r <= 1.20)}' && echo "PASS time: ratio with sync $with_sync <= 1.20" ||
  echo "FAIL time: ratio with sync $with_sync > 1.20"
awk -v k="$peak_max" 'BEGIN {exit !(k < 16 * 1024)}' && echo "PASS memory: $peak_mib MiB < 16 MiB" ||
  echo "FAIL memory: $peak_mib MiB >= 16 MiB"
exit 0
