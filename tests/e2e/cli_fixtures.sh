#!/usr/bin/env bash
# Real-world images from tests/fixtures as HFS sources (and one as an
# ISO target), each result read back with hfsutils, blkid, partx and isoinfo.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

FLOPPY=$FIXTURES/format-corpus-JW_disk9_hfstest_9.img
OTHER_HYBRID=$FIXTURES/isolyzer-iso9660_hfs_part.iso
HFS_PLUS=$FIXTURES/isolyzer-hfsplus.iso
DMG=$FIXTURES/fruitsu-hello.dmg
DISK_UTILITY_MAP=$FIXTURES/node-apm-mac-os-disk-utility.bin
BIG_BLOCK_MAP=$FIXTURES/node-apm-mac-osx-snow-leopard.bin
SOURCES=("$FLOPPY" "$OTHER_HYBRID" "$HFS_PLUS" "$DMG" "$DISK_UTILITY_MAP" "$BIG_BLOCK_MAP")
keep_fixtures "${SOURCES[@]}"

sample_iso plain.iso 3000 100000

# Makes RESULT from a copy of plain.iso and SOURCE; checks its length and
# that the ISO side still reads.
hybrid_of() {  # RESULT SOURCE APPENDED_BYTES
  cp plain.iso "$1"
  run_cli 0 --from-file "$2" --to-iso "$1"
  expect_completed
  [[ $(size_of "$1") == $((ISO_BYTES + $3)) ]] || fail "$1 is $(size_of "$1") bytes"
  check_iso_files "$1" iso
}

# Partition PART of RESULT holds the same files, with the same listing, as
# partition SOURCE_PART of SOURCE.
same_volume() {  # SOURCE SOURCE_PART RESULT PART
  rm -rf orig orig.lst copy copy.lst
  dump_volume "$1" "$2" orig
  dump_volume "$3" "$4" copy
  diff orig.lst copy.lst >/dev/null || fail "listing of $3 differs from $1"
  diff -r orig copy >/dev/null || fail "files of $3 differ from $1"
}

# --- A 1995 floppy, a bare HFS volume: taken whole.
hybrid_of floppy.iso "$FLOPPY" 1474560
expect_partx floppy.iso 2 "$ISO_BLOCKS 2880 Apple_HFS MacOS"
same_bytes "$FLOPPY" 0 floppy.iso "$ISO_BYTES" 1474560
same_volume "$FLOPPY" 0 floppy.iso 1
[[ $(find orig -type f | wc -l) -ge 19 ]] || fail "the floppy's files were not listed"
[[ $(volume_name floppy.iso 1) == "john in WP 5.1" ]] || fail "floppy volume name"

# --- Another tool's hybrid: one Apple_HFS partition (blocks 16-1763), merged.
hybrid_of merged.iso "$OTHER_HYBRID" $((1748 * 512))
# Block 0 keeps the source's first 12 bytes but the block count, and loses
# the rest: driver data, drivers, 0x55AA; block 1 is the map's own entry
# over blocks 1-63, under the source's name.
same_bytes "$OTHER_HYBRID" 0 merged.iso 0 4
same_bytes "$OTHER_HYBRID" 8 merged.iso 8 4
same_bytes /dev/zero 0 merged.iso 12 500
[[ $(be32 merged.iso 4) == $((ISO_BLOCKS + 1748)) ]] || fail "block count in block 0"
expect_partx merged.iso 1 "1 63 Apple_partition_map Apple"
expect_partx merged.iso 2 "$ISO_BLOCKS 1748 Apple_HFS ISO9660/HFS/part_table"
same_bytes "$OTHER_HYBRID" $((16 * 512)) merged.iso "$ISO_BYTES" $((1748 * 512))
same_volume "$OTHER_HYBRID" 1 merged.iso 1

# ... and as the target: it is a hybrid already.
cp "$OTHER_HYBRID" already.iso
expect_refused already.iso "${TEXT[already_hybrid]}" --from-file "$FLOPPY" --to-iso already.iso

# --- A bare HFS+ volume: hfsutils cannot read it, blkid can.
hybrid_of plus.iso "$HFS_PLUS" 614400
expect_partx plus.iso 2 "$ISO_BLOCKS 1200 Apple_HFS MacOS"
same_bytes "$HFS_PLUS" 0 plus.iso "$ISO_BYTES" 614400
[[ $(blkid -p -o value -s TYPE --offset "$ISO_BYTES" plus.iso) == hfsplus ]] || fail "no HFS+ in plus.iso"
[[ $(blkid -p -o value -s LABEL --offset "$ISO_BYTES" plus.iso) == HFS_Plus ]] || fail "HFS+ label"

# --- A 10 MiB bare HFS volume labelled "BBB", larger than the floppies.
new_volume bbb.img 10240 BBB
hybrid_of bbb.iso bbb.img $((10 * 1024 * 1024))
[[ $(volume_name bbb.iso 1) == BBB ]] || fail "volume name of bbb.iso"
same_volume bbb.img 0 bbb.iso 1

# --- Sources to refuse cleanly, without writing anything.
expect_refused plain.iso "${TEXT[no_hfs_partition]}" --from-file "$DMG" --to-iso plain.iso
# A real map whose HFS partitions lie far past the 32 KiB we have of it.
expect_refused plain.iso "ends at byte" \
  --from-file "$DISK_UTILITY_MAP" --to-iso plain.iso --partition all
# A map of 2048-byte blocks: nothing at the 512-byte places we read.
expect_refused plain.iso "${TEXT[no_hfs_partition]}" --from-file "$BIG_BLOCK_MAP" --to-iso plain.iso

expect_fixtures_kept
echo "cli_fixtures: all checks passed"
