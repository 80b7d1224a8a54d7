#!/usr/bin/env bash
# How fast does zelvorant-folders make a hybrid CD-ROM image from a Mac
# folder and a PC folder, next to genisoimage -hfs, which makes a hybrid of
# the same two folders by itself, on the same machine in the same run?
# genisoimage gets both folders grafted side by side, each hidden from the
# other side, so that both images hold the same files where a user sees
# them and the same bytes in all.
#
#   BENCH_MB      MiB of files in each folder (default 144)
#   BENCH_ROUNDS  rounds, each timing both (default 3; the median is taken)
#   BENCH_DIR     where the folders and images are made (default out/bench-folders)
#   BENCH_KEEP=1  keep them
#
# Each folder holds 7/8 of its size in files of 2 MiB and the rest in files
# of 16 KiB, 64 to a subfolder, as discs of software and documents do.
# Fairness: the folders are read once beforehand, so both commands find them
# in the page cache; dirty pages are written out before each timed command;
# both run under /usr/bin/time; the order alternates by round. zelvorant-cli
# puts the hybrid on the disk before it reports completion and genisoimage
# does not, so both are timed to the end of a `sync` of the image (the
# goal's measure) and without it.
#
# It prints a PASS/FAIL line for the goal (time with the sync at most 1.5 x
# genisoimage's) and exits 0 either way; it exits non-zero only when it
# cannot run, or when the hybrid it made does not read back.
set -euo pipefail
export LC_ALL=C

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

mb=${BENCH_MB:-144}
rounds=${BENCH_ROUNDS:-3}
work=${BENCH_DIR:-$repo/out/bench-folders}
[[ $mb =~ ^[1-9][0-9]*$ ]] || { echo "BENCH_MB must be a whole number of MiB" >&2; exit 2; }
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "BENCH_ROUNDS must be 1 or more" >&2; exit 2; }

source bench/lib.sh
build_release_cli zelvorant-macfile
folders=$repo/build-bench/zelvorant-folders

mkdir -p "$work"
# The two folders, two images at a time and scratch: 5 x twice the size.
need_kib=$((mb * 1024 * 10 + 65536))
free_kib=$(df -Pk "$work" | awk 'NR == 2 {print $4}')
if ((free_kib < need_kib)); then
  printf 'Not enough free space in %s: %d MiB free, %d MiB needed. Set BENCH_DIR or BENCH_MB.\n' \
    "$work" $((free_kib / 1024)) $((need_kib / 1024)) >&2
  exit 1
fi

cd "$work"
export HOME=$work/home  # hfsutils' state file stays in here
mkdir -p "$HOME"
cleanup() {
  humount >/dev/null 2>&1 || true
  if [[ ${BENCH_KEEP:-0} != 1 ]]; then
    rm -rf mac pc g.iso z.iso home time.txt run.err
    cd / && rmdir "$work" 2>/dev/null || true
  fi
}
trap cleanup EXIT

fill_folder() {  # DIR
  local big=$((mb * 7 / 8 / 2)) small=$((mb * 1024 / 8 / 16)) i
  mkdir -p "$1"
  for ((i = 0; i < big; ++i)); do head -c $((2 << 20)) /dev/urandom >"$1/data$i.bin"; done
  for ((i = 0; i < small; ++i)); do
    mkdir -p "$1/docs$((i / 64))"
    head -c 16384 /dev/urandom >"$1/docs$((i / 64))/note$i.txt"
  done
}
echo "Making two folders of $mb MiB of files in $work ..."
rm -rf mac pc
fill_folder mac
fill_folder pc
cat mac/*/* mac/* pc/*/* pc/* >/dev/null 2>&1 || true  # into the page cache for both
files=$(find mac pc -type f | wc -l)

run_genisoimage() {
  rm -f g.iso
  timed /dev/null g.iso genisoimage -quiet -r -J -hfs -V BENCH -hfs-volid BENCH -o g.iso \
    -hide /mac -hide-joliet /mac -hide-hfs /pc -graft-points mac/=mac pc/=pc
}
run_folders() {
  rm -f z.iso
  timed /dev/null z.iso "$folders" --hfs-name BENCH --iso-name BENCH mac pc z.iso --yes 2>run.err
}

# The Mac side must read back, or the time means nothing.
check_hybrid() {
  local listed
  hmount z.iso 1 >/dev/null || { echo "z.iso: no HFS partition" >&2; exit 1; }
  listed=$(hls -R : | grep -c -e '^data' -e '^note' || true)
  humount >/dev/null
  ((listed == $(find mac -type f | wc -l))) || { echo "z.iso: $listed files on the Mac side" >&2; exit 1; }
}

# One untimed round of each first, as the other benchmarks do.
run_genisoimage >/dev/null
run_folders >/dev/null || { cat run.err >&2; exit 1; }
check_hybrid

g_plain=() g_synced=() z_plain=() z_synced=()
printf '\n%d MiB + %d MiB in %d files; %d rounds\n' "$mb" "$mb" "$files" "$rounds"
printf '%-6s %16s %20s %16s %20s\n' round "genisoimage (s)" "genisoimage+sync (s)" \
  "folders (s)" "folders+sync (s)"
for ((round = 1; round <= rounds; ++round)); do
  if ((round % 2)); then
    t_g=$(run_genisoimage)
    t_z=$(run_folders) || { cat run.err >&2; exit 1; }
  else
    t_z=$(run_folders) || { cat run.err >&2; exit 1; }
    t_g=$(run_genisoimage)
  fi
  read -r g_p g_s <<<"$t_g"
  read -r z_p z_s <<<"$t_z"
  g_plain+=("$g_p") g_synced+=("$g_s") z_plain+=("$z_p") z_synced+=("$z_s")
  printf '%-6d %16s %20s %16s %20s\n' "$round" "$g_p" "$g_s" "$z_p" "$z_s"
done
check_hybrid

m_g=$(median "${g_plain[@]}") m_g_sync=$(median "${g_synced[@]}")
m_z=$(median "${z_plain[@]}") m_z_sync=$(median "${z_synced[@]}")
with_sync=$(ratio "$m_z_sync" "$m_g_sync")
echo
printf 'median genisoimage -hfs (+ sync):  %s s (%s s without)\n' "$m_g_sync" "$m_g"
printf 'median zelvorant-folders (+ sync): %s s (%s s without)\n' "$m_z_sync" "$m_z"
printf 'image sizes: genisoimage %d bytes, zelvorant-folders %d bytes\n' \
  "$(stat -c %s g.iso)" "$(stat -c %s z.iso)"
printf 'ratio folders/genisoimage, with sync:    %s\n' "$with_sync"
printf 'ratio folders/genisoimage, without sync: %s\n' "$(ratio "$m_z" "$m_g")"
echo
awk -v r="$with_sync" 'BEGIN {exit !(r <= 1.5)}' && echo "PASS time: ratio with sync $with_sync <= 1.5" ||
  echo "FAIL time: ratio with sync $with_sync > 1.5"
exit 0
