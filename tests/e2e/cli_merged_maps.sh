#!/usr/bin/env bash
# Merged maps from sources whose block 1 is not the usual map entry, and a
# source whose Driver Descriptor carries device and driver data, through the
# file job and the device jobs (--attach). Every hybrid must be read by
# hfsutils, partx, parted and 7-Zip: block 1 is the map's own entry over
# blocks 1-63, every HFS partition points behind the ISO data.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

OTHER_HYBRID=$FIXTURES/isolyzer-iso9660_hfs_part.iso
keep_fixtures "$OTHER_HYBRID"

sample_iso plain.iso 3000 50000

N=1700  # blocks per partition: hformat wants 800 KiB at least

# Block 1 an Apple_HFS entry: there is no entry for the map itself.
new_map hfs_in_block1.img $((64 + N)) "Apple_HFS:First:64:$N"
format_partitions hfs_in_block1.img First
# Block 1 the map's entry, without its "PM".
new_map no_pm.img $((64 + N)) Apple_partition_map:Map:1:63 "Apple_HFS:MacOS:64:$N"
format_partitions no_pm.img MacOS
printf '\0\0' | dd of=no_pm.img bs=1 seek=512 conv=notrunc status=none
# The map's entry over blocks 1-4, three partitions packed right behind it.
new_map packed.img $((5 + 3 * N)) Apple_partition_map:Apple:1:4 "Apple_HFS:One:5:$N" \
  "Apple_HFS:Two:$((5 + N)):$N" "Apple_HFS:Three:$((5 + 2 * N)):$N"
format_partitions packed.img One Two Three
# An Apple_HFS entry whose "PM" is damaged: the merged entry gets a sound one.
new_partitioned damaged_pm.img $((64 + N)) "Apple_HFS:MacOS:64:$N"
printf 'XX' | dd of=damaged_pm.img bs=1 seek=1024 conv=notrunc status=none
# Another tool's blocks 0 and 1 (device type and id, driver data 0xFA7F0000,
# a map entry over blocks 1-2), then an Apple_HFS entry over a fresh volume.
new_map driver_data.img $((16 + 1748)) Apple_partition_map:x:1:2 Apple_HFS:Clean:16:1748
dd if="$OTHER_HYBRID" of=driver_data.img bs=512 count=2 conv=notrunc status=none
format_partitions driver_data.img Clean
[[ $(od -An -tx1 -j 12 -N 4 driver_data.img | tr -d ' ') != 00000000 ]] ||
  fail "the fixture's driver data are zero"

# Runs JOB (file, disk or cdrom) on SOURCE into out.iso.
hybrid_from() {  # JOB SOURCE
  cp plain.iso out.iso
  case $1 in
    file) run_cli 0 --from-file "$2" --to-iso out.iso --partition all ;;
    disk) run_cli 0 --attach "disk:0:3=$2" --from-drive A030 --to-iso out.iso --partition all ;;
    cdrom) run_cli 0 --attach "cdrom:0:3=$2" --from-drive C030 --to-iso out.iso --partition all ;;
  esac
  expect_completed
  check_iso_files out.iso iso
}

# The hybrid's map read by every reader: partx gives MAP_NAME for the map's
# own entry over blocks 1-63 and the partitions (NAME SOURCE_FIRST) packed
# behind the ISO data in turn, parted and 7-Zip open the map and list them,
# hfsutils reads each volume's name and its bytes are the source's.
check_hybrid() {  # SOURCE MAP_NAME NAME:SOURCE_FIRST...
  local source=$1 at=$ISO_BLOCKS n=1 arg name first
  shift
  expect_partx out.iso 1 "1 63 Apple_partition_map $1"
  shift
  parted -s out.iso unit s print >parted.txt 2>&1 || fail "parted: $(cat parted.txt)"
  grep -q "^Partition Table: mac" parted.txt || fail "parted: $(cat parted.txt)"
  7zz l -tAPM out.iso >7z.txt 2>&1 || fail "7zz: $(cat 7z.txt)"
  for arg in "$@"; do
    IFS=: read -r name first <<<"$arg"
    n=$((n + 1))
    expect_partx out.iso "$n" "$at $N Apple_HFS $name"
    grep -qE "^ *$((n))  +${at}s +$((at + N - 1))s +${N}s +hfs +$name" parted.txt ||
      fail "parted lacks $name at $at: $(cat parted.txt)"
    grep -qF "$name.hfs" 7z.txt || fail "7zz lacks $name: $(cat 7z.txt)"
    [[ $(volume_name out.iso $((n - 1))) == "$name" ]] || fail "volume name of $name"
    same_bytes "$source" $((first * 512)) out.iso $((at * 512)) $((N * 512))
    at=$((at + N))
  done
  [[ $(be32 out.iso 4) == "$at" ]] || fail "block count in block 0"
  [[ $(size_of out.iso) == $((at * 512)) ]] || fail "out.iso is $(size_of out.iso) bytes"
}

# --info finds nothing wrong with out.iso.
expect_sound() {
  "$CLI" --info out.iso --json >info.json || fail "--info out.iso"
  python3 -c 'import json, sys; sys.exit(not json.load(open("info.json"))["sound"])' ||
    fail "--info flags out.iso: $(cat info.json)"
}

for job in file disk cdrom; do
  hybrid_from $job hfs_in_block1.img
  check_hybrid hfs_in_block1.img Apple First:64

  hybrid_from $job no_pm.img
  check_hybrid no_pm.img Map MacOS:64

  hybrid_from $job damaged_pm.img
  check_hybrid damaged_pm.img Apple MacOS:64
  expect_sound
  [[ $(od -An -c -j 1024 -N 2 out.iso | tr -d ' ') == PM ]] || fail "entry 2 lacks its PM"

  hybrid_from $job packed.img
  check_hybrid packed.img Apple One:5 Two:$((5 + N)) Three:$((5 + 2 * N))

  # 1748 blocks here, not N.
  N=1748 hybrid_from $job driver_data.img
  N=1748 check_hybrid driver_data.img Apple Clean:16
  # Device type and id kept, driver data and drivers cleared.
  same_bytes driver_data.img 8 out.iso 8 4
  same_bytes /dev/zero 0 out.iso 12 500
done

expect_fixtures_kept
echo "cli_merged_maps: all checks passed"
