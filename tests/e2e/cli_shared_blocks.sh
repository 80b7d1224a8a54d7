#!/usr/bin/env bash
# On a file system that shares blocks between files (a small XFS with
# reflink, else btrfs, loop-mounted), for an ISO length of whole 4 KiB
# blocks and for one 2 KiB off: the hybrid is byte for byte the one the same
# job makes in the working folder; where aligned, the appended data are
# extents shared with the source, and the plan, --verbose and the line after
# the completion say so, and not where unaligned; --undo gives back the
# original ISO image. Needs root (a loop mount); skipped otherwise.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

skip() {
  echo "SKIP: $*"
  exit 77
}
on_wine && skip "the Windows build shares blocks on ReFS only, which Wine does not offer"
((EUID == 0)) || skip "loop-mounting a file system that shares blocks needs root"
if command -v mkfs.xfs >/dev/null && command -v xfs_io >/dev/null; then
  make_fs() { mkfs.xfs -q -m reflink=1 "$1"; }
elif command -v mkfs.btrfs >/dev/null; then
  make_fs() { mkfs.btrfs -q "$1"; }
else
  skip "neither mkfs.xfs (xfsprogs) nor mkfs.btrfs (btrfs-progs) is installed"
fi
# The extent flags: filefrag (e2fsprogs) names "shared"; xfs_io's fiemap
# shows the flags as a number, 0x2000 among them.
shared_extents() {  # FILE
  if command -v filefrag >/dev/null; then
    filefrag -v "$1" | grep -c shared || true
  else
    xfs_io -r -c "fiemap -v" "$1" | awk '$NF ~ /^0x/ {print $NF}' |
      while read -r flags; do ((flags & 0x2000)) && echo shared; done | wc -l
  fi
}

# XFS takes no less than 300 MB; the file stays sparse.
truncate -s 320M fs.img
make_fs fs.img >/dev/null 2>&1 || skip "could not make the file system"
mkdir mnt
mount -o loop fs.img mnt 2>/dev/null || skip "could not loop-mount the file system"
trap 'umount "$WORK/mnt" 2>/dev/null || true; humount >/dev/null 2>&1 || true; rm -rf "$WORK"' EXIT
FS=$WORK/mnt

# A 4 MiB partition at block 64, byte 32,768: a whole number of 4 KiB blocks.
random_file vol/Data 1500000
new_partitioned hfs.img $((64 + 8192)) Apple_HFS:Shared:64:8192
fill_volume hfs.img 1 vol
cp hfs.img "$FS/hfs.img"

# Two ISO images, one whose length is a whole number of 4 KiB blocks and one
# 2 KiB off (genisoimage's lengths are whole 2 KiB sectors).
random_file iso/README 3000
for extra in 0 2048; do
  random_file iso/DATA.BIN $((300000 + extra))
  new_iso probe.iso iso
  if (($(size_of probe.iso) % 4096 == 0)); then mv probe.iso aligned.iso; else mv probe.iso unaligned.iso; fi
done
[[ -f aligned.iso && -f unaligned.iso ]] || fail "no pair of aligned and unaligned ISO lengths"

for kind in aligned unaligned; do
  cp $kind.iso "$FS/$kind.iso"
  cp $kind.iso here.iso

  run_cli 0 --dry-run --from-file "$FS/hfs.img" --to-iso "$FS/$kind.iso"
  plan=$(<out.txt)
  if [[ $kind == aligned ]]; then
    [[ $plan == *"may be appended ${TEXT[blocks_shared]}"* ]] || fail "the plan does not say blocks may be shared"
  else
    [[ $plan != *"${TEXT[blocks_shared]}"* ]] || fail "the plan offers to share unaligned blocks"
  fi

  run_cli 0 --from-file hfs.img --to-iso here.iso
  run_cli 0 --verbose --from-file "$FS/hfs.img" --to-iso "$FS/$kind.iso"
  expect_completed
  cmp -s "$FS/$kind.iso" here.iso || fail "$kind: the hybrid differs from the copied one"
  cmp -s "$FS/hfs.img" hfs.img || fail "$kind: the source changed"
  shared=$(shared_extents "$FS/$kind.iso")
  if [[ $kind == aligned ]]; then
    [[ $(<out.txt) == *" ${TEXT[blocks_shared]}." ]] ||
      fail "the completion line does not say the blocks were shared"
    expect_err "4194304 bytes of HFS data appended ${TEXT[blocks_shared]}"
    ((shared > 0)) || fail "no shared extent in the aligned hybrid"
  else
    [[ $(<out.txt) != *"${TEXT[blocks_shared]}"* ]] || fail "unaligned blocks said to be shared"
    [[ $(<err.txt) != *"${TEXT[blocks_shared]}"* ]] || fail "--verbose says unaligned blocks were shared"
    ((shared == 0)) || fail "shared extents in the unaligned hybrid"
  fi

  run_cli 0 --undo "$FS/$kind.iso"
  cmp -s "$FS/$kind.iso" $kind.iso || fail "$kind: --undo did not give back the ISO image"
done
echo "shared blocks: aligned and unaligned ISO lengths hold"
