#!/usr/bin/env bash
# Puts real HFS volumes behind Apple partition maps on the simulated SCSI bus,
# as disks and as CD-ROMs, and runs both device jobs through zelvorant-cli:
# hybrids are read back with hfsutils and isoinfo, extracted HFS images are
# read back with hfsutils and taken by the file job. The same images as
# files give the same HFS images.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

sample_iso plain.iso 5000 200000

random_file vol1/Small 1
random_file vol1/Odd 12345
random_file vol1/Folder/Inner 70001
random_file vol2/Notes 4321
random_file vol3/Only 100000

# Disks with one, two and three Apple_HFS partitions among entries of other
# types; the sizes keep the CD-ROM copies off sector boundaries.
new_partitioned one.img $((64 + 4000)) Apple_HFS:First:64:4000
new_partitioned two.img $((64 + 30 + 4002 + 10 + 3001)) Apple_Driver43:Driver:64:30 \
  Apple_HFS:First:94:4002 Apple_Free:Extra:4096:10 Apple_HFS:Second:4106:3001
new_partitioned three.img $((64 + 4000 + 3001 + 2999)) Apple_HFS:First:64:4000 \
  Apple_HFS:Second:4064:3001 Apple_HFS:Third:7065:2999
for disk in one two three; do fill_volume $disk.img 1 vol1; done
for disk in two three; do fill_volume $disk.img 2 vol2; done
fill_volume three.img 3 vol3

# The specifier's letter for a device of KIND on HOST and TARGET.
drive() {  # KIND HOST TARGET
  echo "$([[ $1 == disk* ]] && echo A || echo C)$2${3}0"
}

hybrid_from() {  # KIND DISK ANSWER
  cp plain.iso out.iso
  run_cli 0 --attach "$1:0:3=$2" --from-drive "$(drive "$1" 0 3)" \
    --to-iso out.iso --partition "$3"
  expect_completed
  check_iso_files out.iso iso
  same_bytes plain.iso 32768 out.iso 32768 $((ISO_BYTES - 32768))
  [[ $(be32 out.iso 4) == $(($(size_of out.iso) / 512)) ]] || fail "block count of $2 ($1)"
}

# Each kind also as a drive that refuses READ(6), as ATAPI and USB optical
# drives do: the jobs read it with READ(10) and get the same bytes.
for kind in disk cdrom disk,no-read6 cdrom,no-read6; do
  # All partitions: each comes back in its place, after the ISO data.
  hybrid_from $kind three.img all
  expect_partx out.iso 2 "$ISO_BLOCKS 4000 Apple_HFS First"
  expect_partx out.iso 4 "$((ISO_BLOCKS + 7001)) 2999 Apple_HFS Third"
  expect_volume_files out.iso 1 vol1
  expect_volume_files out.iso 2 vol2
  expect_volume_files out.iso 3 vol3

  # One partition: a fresh map and only that partition's blocks.
  hybrid_from $kind two.img 1
  [[ $(size_of out.iso) == $((ISO_BYTES + 3001 * 512)) ]] || fail "size of chosen ($kind)"
  expect_volume_files out.iso 1 vol2
  hybrid_from $kind one.img 0
  expect_volume_files out.iso 1 vol1

  # Extraction: the whole volume, or a chosen partition in a map of its own;
  # either is a source the file job takes.
  run_cli 0 --attach "$kind:1:6=two.img" --from-drive "$(drive "$kind" 1 6)" \
    --to-hfs-image whole.img --partition all
  expect_completed
  cmp -s whole.img two.img || fail "whole-volume extraction of two.img ($kind)"
  run_cli 0 --attach "$kind:1:6=three.img" --from-drive "$(drive "$kind" 1 6)" \
    --to-hfs-image third.img --partition 2
  [[ $(size_of third.img) == $(((64 + 2999) * 512)) ]] || fail "size of third.img ($kind)"
  expect_volume_files third.img 1 vol3
  cp plain.iso again.iso
  run_cli 0 --from-file third.img --to-iso again.iso
  expect_volume_files again.iso 1 vol3
done

# An image file's volume or partition, as its disk gives it (--attach), by
# row and by name; the source only read, an old target's mode kept.
sum=$(sha256sum <three.img)
random_file from-file.img 1000
chmod 640 from-file.img
for choice in 2 Third all; do
  run_cli 0 --attach disk:1:6=three.img --from-drive A160 --to-hfs-image from-disk.img \
    --partition "$choice"
  run_cli 0 --from-file three.img --to-hfs-image from-file.img --partition "$choice"
  expect_completed
  cmp -s from-disk.img from-file.img || fail "--from-file three.img --partition $choice"
  # (Wine gives files no POSIX modes.)
  on_wine || [[ $(stat -c %a from-file.img) == 640 ]] || fail "mode of from-file.img"
done
[[ $(sha256sum <three.img) == "$sum" ]] || fail "--from-file changed three.img"
run_cli 0 --from-file three.img --to-hfs-image from-file.img --partition Third
expect_volume_files from-file.img 1 vol3
# A rehearsal names the file and writes nothing.
run_cli 0 --from-file three.img --to-hfs-image rehearsed.img --partition 1 --dry-run
grep -qx "Copy 3001 blocks of 512 bytes from file three.img, from block 4064" out.txt ||
  fail "plan: $(cat out.txt)"
[[ ! -e rehearsed.img ]] || fail "a dry run made rehearsed.img"
# A bare volume goes behind a fresh map; the source is never its own target.
new_volume bare.img 800 Bare
run_cli 0 --from-file bare.img --to-hfs-image wrapped.img
expect_partx wrapped.img 2 "64 1600 Apple_HFS MacOS"
[[ $(volume_name wrapped.img 1) == Bare ]] || fail "wrapped.img: no volume Bare"
run_cli 1 --from-file three.img --to-hfs-image three.img
expect_err "${TEXT[source_is_hfs_target]}"
[[ $(sha256sum <three.img) == "$sum" ]] || fail "three.img as its own target changed"

# Refusals: a plain ISO image on the bus is no Macintosh volume, and the
# target stays as it was.
cp plain.iso target.iso
expect_refused target.iso "${TEXT[not_mac_volume]}" \
  --attach disk:0:0=plain.iso --from-drive A000 --to-iso target.iso
expect_refused target.iso "does not answer." --attach disk:0:0=one.img --from-drive A010 --to-iso target.iso
run_cli 1 --attach cdrom:0:0=plain.iso --from-drive C000 --to-hfs-image none.img
[[ ! -s none.img ]] || fail "refused extraction left bytes in none.img"
# The devices as the picker shows them: per host adapter its driver, then
# Id, vendor, product and revision; a host adapter with nothing of the kind
# asked says so.
run_cli 0 --attach disk:0:2=one.img --attach cdrom:0:5=two.img --attach cdrom:1:0=one.img \
  --list-devices cdrom
cat >want.txt <<'TXT'
Host adapter 0
Driver: SIMULATED BUS
Id Vendor   Model            Release
 5 ZELVRANT SIM CD-ROM       0.9

Host adapter 1
Driver: SIMULATED BUS
Id Vendor   Model            Release
 0 ZELVRANT SIM CD-ROM       0.9
TXT
diff want.txt out.txt >/dev/null || fail "device list: $(cat out.txt)"
run_cli 0 --attach disk:1:2=one.img --list-devices disk
grep -qx " 2 ZELVRANT SIM DISK         0.9" out.txt || fail "disk list: $(cat out.txt)"
grep -qx "   (no devices of this kind)" out.txt || fail "host adapter 0 should be empty"
run_cli 0 --list-devices
grep -qxF -- "${TEXT[no_host_adapter_answers]}" out.txt || fail "empty bus"
echo "device jobs: ok"
