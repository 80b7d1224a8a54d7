#!/usr/bin/env bash
# What the ISO image target holds is looked at before a byte is written: a
# device, a pipe or a Mac volume is refused; data in the system area and
# bytes after the ISO 9660 volume are asked about (Cancel leaves the file
# byte-identical, --yes goes on); what ISO 9660 tools make passes without a
# question. The HFS source is only read, and must not change during the job.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

random_file vol/Notes 20000
sample_iso plain.iso 3000 70000
new_volume bare.img 2048 Bare
fill_volume bare.img 0 vol

# The job on TARGET (a copy of SOURCE_ISO) must complete, append the volume
# at byte AT, and both sides must read back.
expect_hybrid() {  # TARGET AT ARGS...
  local target=$1 at=$2
  shift 2
  run_cli 0 "$@"
  expect_completed
  [[ $(size_of "$target") == $((at + 2048 * 1024)) ]] || fail "$target is $(size_of "$target") bytes"
  expect_partx "$target" 2 "$((at / 512)) 4096 Apple_HFS MacOS"
  same_bytes bare.img 0 "$target" "$at" $((2048 * 1024))
  [[ $(volume_name "$target" 1) == Bare ]] || fail "no HFS volume in $target"
  check_iso_files "$target" iso
}

# --- Targets that are no ISO image file, or a Mac volume already: refused.
# Swapped arguments: the HFS volume is the target.
cp bare.img volume.hfs
for yes in "" --yes; do
  expect_refused volume.hfs "${TEXT[already_hybrid]}" --from-file plain.iso --to-iso volume.hfs $yes
done
# Another tool's hybrid: an HFS volume at byte 1024 and no partition map.
genisoimage -quiet -hfs -o mkisofs-hfs.iso iso
expect_refused mkisofs-hfs.iso "${TEXT[already_hybrid]}" --from-file bare.img --to-iso mkisofs-hfs.iso --yes
if ! on_wine; then
  mkfifo pipe.iso
  run_cli 1 --from-file bare.img --to-iso pipe.iso
  expect_err "The ISO image pipe.iso is a pipe, not a file: only an ISO image file can be made hybrid."
  expect_err "Nothing was written to it."
  run_cli 1 --from-file bare.img --to-iso /dev/null --yes
  expect_err "The ISO image /dev/null is a character device, not a file"
  # A block device, where this machine lets us make one.
  cp plain.iso device.iso
  if LOOP=$(losetup -f --show device.iso 2>/dev/null); then
    trap 'losetup -d "$LOOP"; rm -rf "$WORK"' EXIT
    run_cli 1 --from-file bare.img --to-iso "$LOOP" --yes
    expect_err "The ISO image $LOOP is a block device, not a file"
    cmp -s "$LOOP" plain.iso || fail "$LOOP was changed"
  else
    echo "note: no loop device could be set up: the block device case is skipped"
  fi
fi

# --- Data in the first 32,768 bytes: asked about.
random_file noise.img $((1024 * 1024))
expect_refused noise.img "The first 32,768 bytes of the ISO image hold data of an unknown kind." \
  --from-file bare.img --to-iso noise.img
expect_err "The file does not look like an ISO 9660 image."
expect_err "Those bytes will be overwritten by the Macintosh partition map."
expect_err "${TEXT[answered_cancel_system_area]}"
# First 32,768 bytes all zero: taken as it is, ISO 9660 or not.
{ head -c 32768 /dev/zero && head -c 100000 /dev/urandom; } >zero-head.img
cp zero-head.img zero-head.before
run_cli 0 --from-file bare.img --to-iso zero-head.img
[[ ! -s err.txt ]] || fail "a question for a head of zeros: $(cat err.txt)"
same_bytes zero-head.before 32768 zero-head.img 32768 100000
[[ $(volume_name zero-head.img 1) == Bare ]] || fail "no HFS volume in zero-head.img"
# A PC boot record, as xorriso writes one for a USB stick: Cancel, then --yes.
xorriso -as mkisofs --protective-msdos-label -o mbr.iso iso 2>/dev/null
MBR_BYTES=$(size_of mbr.iso)
expect_refused mbr.iso "The first 32,768 bytes of the ISO image hold a PC boot record." \
  --from-file bare.img --to-iso mbr.iso
grep -qF "does not look like" err.txt && fail "an ISO 9660 image said not to look like one"
expect_hybrid mbr.iso "$MBR_BYTES" --from-file bare.img --to-iso mbr.iso --yes
# A GPT and an EFI partition appended after the volume: two questions.
random_file efi.img 100000
xorriso -as mkisofs -appended_part_as_gpt -append_partition 2 0xef efi.img -o gpt.iso iso \
  2>/dev/null
expect_refused gpt.iso "hold a PC boot record and a GPT partition table." \
  --from-file bare.img --to-iso gpt.iso
VOLUME_BYTES=$(($(isoinfo -d -i gpt.iso | sed -n 's/^Volume size is: //p') * 2048))
expect_hybrid gpt.iso "$VOLUME_BYTES" --from-file bare.img --to-iso gpt.iso --yes
expect_err "bytes after its ISO 9660 volume"

# --- Bytes after the volume, as a killed run leaves them.
cp plain.iso tail.iso
random_file tail.bin 70000
cat tail.bin >>tail.iso
expect_refused tail.iso \
  "The ISO image holds 70000 bytes after its ISO 9660 volume, perhaps left by an interrupted run." \
  --from-file bare.img --to-iso tail.iso
expect_err "Remove them and go on?"
cp tail.iso tail-device.iso
expect_hybrid tail.iso "$ISO_BYTES" --from-file bare.img --to-iso tail.iso --yes
# The device job asks the same, and makes the same hybrid.
expect_refused tail-device.iso "holds 70000 bytes after its ISO 9660 volume" \
  --attach disk:1:2=bare.img --from-drive A120 --to-iso tail-device.iso
run_cli 1 --attach disk:1:2=bare.img --from-drive A120 --to-iso tail-device.iso --yes
expect_err "${TEXT[not_mac_volume]}"  # a bare volume on a disk has no map
new_partitioned disk.img $((64 + 4096)) Apple_HFS:Bare:64:4096
dd if=bare.img of=disk.img bs=512 seek=64 conv=notrunc status=none
cp tail-device.iso tail-file.iso
run_cli 0 --attach disk:1:2=disk.img --from-drive A120 --to-iso tail-device.iso --yes
run_cli 0 --from-file disk.img --to-iso tail-file.iso --yes
cmp -s tail-device.iso tail-file.iso || fail "device and file jobs differ after removing the bytes"
[[ $(be32 tail-device.iso $((1024 + 8))) == $((ISO_BYTES / 512)) ]] ||
  fail "the device job did not append at the end of the volume"

# --- A run killed while the bytes after the volume waited beside the image,
# in NAME.removed-OFFSET-CHECK (CHECK: the CRC-32 of the first volume
# descriptor): the next run, the job or --undo, puts them back, or deletes a
# copy that is no longer needed.
KEPT=$(python3 -c 'import sys, zlib
print("killed.iso.removed-%s-%08x" % (sys.argv[2], zlib.crc32(open(sys.argv[1], "rb").read()[32768:34816])))' \
  plain.iso "$ISO_BYTES")
cat plain.iso tail.bin >whole.iso
# Cut, and part of the HFS data appended: --undo puts the bytes back first.
cp tail.bin "$KEPT"
cat plain.iso <(head -c 100000 bare.img) >killed.iso
run_cli 1 --undo killed.iso
expect_err "had removed the bytes after its ISO 9660 volume and kept them in $KEPT."
expect_err "The 70000 bytes were put back from byte $ISO_BYTES on, and that file was deleted."
expect_err "${TEXT[undo_not_hybrid]}"
cmp -s killed.iso whole.iso || fail "the bytes after the volume did not come back"
[[ ! -e $KEPT ]] || fail "$KEPT left after the bytes came back"
# Cut, nothing appended: a dry run writes nothing; the job puts the bytes
# back, asks about them again and makes the hybrid an uninterrupted run makes.
cp plain.iso killed.iso
cp tail.bin "$KEPT"
expect_refused killed.iso "A run that writes puts the 70000 bytes back first" \
  --from-file bare.img --to-iso killed.iso --yes --dry-run
cmp -s "$KEPT" tail.bin || fail "a dry run changed $KEPT"
expect_hybrid killed.iso "$ISO_BYTES" --from-file bare.img --to-iso killed.iso --yes
expect_err "The 70000 bytes were put back from byte $ISO_BYTES on"
[[ ! -e $KEPT ]] || fail "$KEPT left after the job"
# The hybrid finished, its copy not yet deleted: the copy goes, silently.
cp tail.bin "$KEPT"
run_cli 0 --undo killed.iso
cmp -s killed.iso plain.iso || fail "--undo after a finished job did not give the plain image"
[[ ! -e $KEPT ]] || fail "$KEPT left after a finished job"

# --- What ISO 9660 tools make passes without a question (none could be
# answered here: each would be Cancel).
genisoimage -quiet -R -J -o gen-rj.iso iso
xorriso -as mkisofs -R -J -o xorriso-mkisofs.iso iso 2>/dev/null
xorriso -outdev xorriso-native.iso -map iso / >/dev/null 2>&1  # zeros after its volume
for made in plain.iso gen-rj.iso xorriso-mkisofs.iso xorriso-native.iso; do
  cp "$made" "tool-$made"
  expect_hybrid "tool-$made" "$(size_of "$made")" --from-file bare.img --to-iso "tool-$made"
  [[ ! -s err.txt ]] || fail "$made: $(cat err.txt)"
done
echo "note: $(genisoimage --version 2>&1 | head -1) and $(xorriso -version 2>/dev/null | head -1)" \
  "output passed without a question"

# --- The source is only read.
# A volume whose header says it is longer than the file: a copy under way.
new_volume cut.img 2048 Cut
truncate -s $((1536 * 1024)) cut.img
expect_refused plain.iso \
  "The HFS volume in cut.img is 2097152 bytes long, but the file is only 1572864 bytes long" \
  --from-file cut.img --to-iso plain.iso
expect_err "${TEXT[iso_left]}"
# A pipe as the source is refused at once, not waited on for a writer.
if ! on_wine; then
  mkfifo pipe.hfs
  rc=0
  timeout 20 "$CLI" --from-file pipe.hfs --to-iso plain.iso </dev/null >out.txt 2>err.txt || rc=$?
  [[ $rc == 1 ]] || fail "a pipe as the source: exit $rc (124: it waited for a writer)"
  expect_err "pipe.hfs: ${TEXT[cannot_be_opened]} (${TEXT[not_a_regular_file]})"
fi
# A source of mode 444, run as a user who may not write it. As root that
# takes another user, and Wine will not run in a prefix another user owns.
if ! as_not_root; then
  echo "note: running as root under Wine: the read-only source case is skipped"
else
  mkdir -p ro
  cp bare.img ro/readonly.img
  cp plain.iso ro/mine.iso
  chmod 755 "$WORK" ro
  chmod 444 ro/readonly.img
  ((${#RUN_AS[@]} == 0)) || chown 65534:65534 ro/mine.iso
  sha256sum ro/readonly.img >ro.sum
  rc=0
  "${RUN_AS[@]}" "$CLI" --from-file ro/readonly.img --to-iso ro/mine.iso </dev/null \
    >"$WORK/out.txt" 2>"$WORK/err.txt" || rc=$?
  [[ $rc == 0 ]] || fail "a read-only source: exit $rc"
  expect_completed
  [[ $(volume_name ro/mine.iso 1) == Bare ]] || fail "no HFS volume from the read-only source"
  sha256sum --quiet -c ro.sum || fail "the read-only source changed"
fi

# A source that changes while the job runs. The job waits at the partition
# question on a terminal; the file grows, or is rewritten in place with its
# time of change put back, meanwhile, then the answer comes. Without the
# change the same run completes.
if ! on_wine && command -v script >/dev/null; then
  # What another program does to the source while the question waits.
  change_source() {  # grow|rewrite|none
    case $1 in
      grow) printf 'more' >>two.img ;;
      rewrite)
        touch -r two.img stamp
        printf 'XXXX' | dd of=two.img bs=1 seek=$((70 * 512)) conv=notrunc status=none
        touch -m -r stamp two.img
        ;;
    esac
  }
  run_on_terminal() {  # grow|rewrite|none [interrupt]
    cp plain.iso grow.iso
    # Emptied here, not only by the redirection below: that one happens in
    # the background, and the wait for the question could read the last
    # run's text before it.
    : >term.txt
    rm -f answers && mkfifo answers
    script -qfec "exec '$CLI' --from-file two.img --to-iso grow.iso" /dev/null <answers >term.txt 2>&1 &
    local pid=$! rc=0 i
    exec 3>answers
    for ((i = 0; i < 200; i++)); do
      grep -q "Partition (0 to 1), all, or cancel?" term.txt && break
      sleep 0.1
    done
    if ! grep -q "Partition (0 to 1), all, or cancel?" term.txt; then
      exec 3>&-
      kill "$pid" 2>/dev/null || true
      fail "no partition question: $(cat term.txt)"
    fi
    change_source "$1"
    if [[ ${2:-} == interrupt ]]; then
      printf '\003' >&3  # Ctrl-C typed on the terminal: SIGINT from its line discipline
    else
      echo all >&3
    fi
    # A run that hangs must fail this script, not hold the test to its timeout.
    for ((i = 0; i < 600; i++)); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    exec 3>&-
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      fail "the run did not end within 60 s of the answer: $(cat term.txt)"
    fi
    wait "$pid" || rc=$?
    return "$rc"
  }
  for change in grow rewrite; do
    new_partitioned two.img $((64 + 2048 + 2048)) Apple_HFS:First:64:2048 Apple_HFS:Second:2112:2048
    run_on_terminal "$change" && fail "a source changed by '$change' was copied"
    [[ $(tr -d '\r' <term.txt) == *"${TEXT[source_changed]}${TEXT[iso_left]}"* ]] ||
      fail "no message for a source changed by '$change': $(cat term.txt)"
    cmp -s grow.iso plain.iso || fail "grow.iso changed after '$change'"
  done
  new_partitioned two.img $((64 + 2048 + 2048)) Apple_HFS:First:64:2048 Apple_HFS:Second:2112:2048
  run_on_terminal none || fail "the same run without a change failed: $(cat term.txt)"
  [[ $(volume_name grow.iso 2) == Second ]] || fail "grow.iso holds no second volume"
  # SIGINT (Ctrl-C) at the question: Cancel, exit 130 (128 + SIGINT), the
  # ISO image as it was.
  rc=0
  run_on_terminal none interrupt || rc=$?
  [[ $rc == 130 ]] || fail "Ctrl-C at the question: exit $rc, expected 130: $(cat term.txt)"
  cmp -s grow.iso plain.iso || fail "Ctrl-C at the question changed the ISO image"
else
  echo "note: no terminal for the question (Wine, or no script(1)): the growing source case is skipped"
fi

echo "cli_targets_and_sources: all checks passed"
