#!/usr/bin/env bash
# A write that fails halfway through the append (a real EFBIG under a
# file-size limit) exits 1, names the ISO image, and leaves it byte-identical.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

sample_iso plain.iso 3000 400000
random_file vol/Big 3000000
random_file vol/Small 5000

# Runs the job with files limited to KB kilobytes (bash's unit for -f); it
# must fail writing ISO and put it back as it was.
expect_write_failure() {  # ISO KB ARGS...
  local iso=$1 kb=$2 rc=0
  shift 2
  cp "$iso" "$WORK/iso.before"
  (ulimit -f "$kb" && exec "$CLI" "$@") </dev/null >out.txt 2>err.txt || rc=$?
  [[ $rc == 1 ]] || fail "exit $rc, expected 1, under a limit of $kb KB: $*"
  expect_err "Error writing file $iso."
  expect_err "File too large."
  expect_err "${TEXT[iso_left]}"
  cmp -s "$iso" "$WORK/iso.before" || fail "ISO changed by a failed write: $*"
  [[ ! -s out.txt ]] || fail "completion reported for a failed job: $*"
}

HALF_MB=$((ISO_BYTES / 1024 + 2048))  # 2 MB into the append

# The merged map: one partition of 8 MB whose data is cut short.
new_partitioned wrapped.img $((64 + 16384)) Apple_HFS:Wrapped:64:16384
fill_volume wrapped.img 1 vol
cp plain.iso merge.iso
expect_write_failure "$WORK/merge.iso" "$HALF_MB" --from-file wrapped.img --to-iso "$WORK/merge.iso"

# The merged map of three partitions, failing in the third one's data.
new_partitioned three.img $((64 + 3 * 4096)) \
  Apple_HFS:A:64:4096 Apple_HFS:B:4160:4096 Apple_HFS:C:8256:4096
expect_write_failure merge.iso $((ISO_BYTES / 1024 + 5 * 1024)) \
  --from-file three.img --to-iso merge.iso --partition all

# A chosen partition: our own map, the second partition's data cut short.
new_partitioned two.img $((64 + 2048 + 8192)) Apple_HFS:One:64:2048 Apple_HFS:Two:2112:8192
fill_volume two.img 2 vol
cp plain.iso chosen.iso
expect_write_failure chosen.iso "$HALF_MB" --from-file two.img --to-iso chosen.iso --partition 1

# An ISO whose length is not a multiple of 512, behind a bare volume: the
# padding goes through and the append fails ...
new_volume bare.img 4096 Bare
fill_volume bare.img 0 vol
cp plain.iso odd.iso
head -c 300 /dev/zero >>odd.iso  # padding after the volume, kept
expect_write_failure odd.iso "$HALF_MB" --from-file bare.img --to-iso odd.iso
# ... or the padding itself cannot be written: the file is already past the limit.
expect_write_failure odd.iso $((ISO_BYTES / 1024)) --from-file bare.img --to-iso odd.iso

# Bytes after the volume, removed with --yes, come back from their scratch
# file when the append fails; no scratch file is left in the folder.
cp plain.iso tail.iso
random_file tail.bin 200000
cat tail.bin >>tail.iso
before=$(ls -A)
expect_write_failure tail.iso "$HALF_MB" --from-file bare.img --to-iso tail.iso --yes
expect_err "The ISO image holds 200000 bytes after its ISO 9660 volume"
[[ $(ls -A) == "$before" ]] || fail "the folder changed: $(ls -A)"
# ... and when they cannot be kept (their file beside the image passes the
# limit too), nothing is cut and nothing is left beside the image.
rc=0
(ulimit -f 100 && exec "$CLI" --from-file bare.img --to-iso tail.iso --yes) </dev/null >out.txt \
  2>err.txt || rc=$?
[[ $rc == 1 ]] || fail "exit $rc, expected 1, when the bytes after the volume cannot be kept"
expect_err "The bytes after the ISO 9660 volume of tail.iso could not be kept in tail.iso.removed-$ISO_BYTES-"
expect_err "File too large."
expect_err "${TEXT[iso_left]}"
cmp -s tail.iso <(cat plain.iso tail.bin) || fail "tail.iso changed when its bytes could not be kept"
[[ $(ls -A) == "$before" ]] || fail "the folder changed: $(ls -A)"
[[ ! -s out.txt ]] || fail "completion reported when the bytes could not be kept"

# --yes passes the capacity warning; the write failure is undone all the same.
truncate -s 700M huge.img
printf BD | dd of=huge.img bs=1 seek=1024 conv=notrunc status=none
expect_write_failure merge.iso "$HALF_MB" --from-file huge.img --to-iso merge.iso --yes
expect_err "${TEXT[answered_ok]}"

# The device jobs on a simulated disk and CD-ROM: the hybrid is undone ...
for kind in disk cdrom; do
  letter=A
  [[ $kind == disk ]] || letter=C
  expect_write_failure merge.iso "$HALF_MB" --from-drive "${letter}120" \
    --attach "$kind:1:2=wrapped.img" --to-iso merge.iso
  # ... and an HFS image file already at the target's path is kept byte for
  # byte, with no new file left beside it; with no file there, none is made.
  for existing in yes no; do
    rm -rf hfs-out && mkdir hfs-out
    [[ $existing == no ]] || random_file hfs-out/out.img 70000
    [[ $existing == no ]] || cp hfs-out/out.img out.before
    rc=0
    (ulimit -f 1024 && exec "$CLI" --from-drive "${letter}120" --attach "$kind:1:2=wrapped.img" \
      --to-hfs-image hfs-out/out.img) </dev/null >out.txt 2>err.txt || rc=$?
    [[ $rc == 1 ]] || fail "exit $rc, expected 1, extracting from the $kind under a limit"
    expect_err "Error writing file hfs-out/out.img."
    expect_err "File too large."
    expect_err "${TEXT[hfs_image_kept]}"
    if [[ $existing == yes ]]; then
      cmp -s hfs-out/out.img out.before || fail "out.img changed by a failed extraction"
      [[ $(ls -A hfs-out) == out.img ]] || fail "left beside out.img: $(ls -A hfs-out)"
    else
      [[ -z $(ls -A hfs-out) ]] || fail "left after a failed extraction: $(ls -A hfs-out)"
    fi
    [[ ! -s out.txt ]] || fail "completion reported for a failed extraction from the $kind"
  done
done

# Without the limit the same jobs complete, and the volumes read back.
run_cli 0 --from-file wrapped.img --to-iso merge.iso
expect_completed
run_cli 0 --from-file bare.img --to-iso odd.iso
expect_completed
for iso in merge.iso odd.iso; do
  rm -rf dump
  dump_volume "$iso" 1 dump
  diff -r vol dump >/dev/null || fail "files of $iso differ"
done
check_iso_files odd.iso iso

echo "cli_write_failure_restores_iso: all checks passed"
