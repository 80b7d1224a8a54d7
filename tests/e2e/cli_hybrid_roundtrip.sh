#!/usr/bin/env bash
# Makes real HFS volumes and ISO 9660 images, runs each kind of file job
# through zelvorant-cli, and reads the hybrids back with tools of their own:
# hfsutils for the HFS side, isoinfo for the ISO side, partx for the map.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

random_file iso/ODD.TXT 777
sample_iso plain.iso 5000 300000

random_file vol1/Small 1
random_file vol1/Empty 0
random_file vol1/Odd 12345
random_file vol1/Big 3500000
random_file vol1/Folder/Inner 70001
random_file vol2/Notes 4321
random_file vol2/Docs/Letter 9000
random_file vol3/Only 100000

expect_size() {  # IMAGE BYTES
  [[ $(size_of "$1") == "$2" ]] || fail "$1 is $(size_of "$1") bytes, expected $2"
}

# The ISO 9660 side of hybrid RESULT made from ORIGINAL: files read back,
# bytes past the map area untouched, and block 0 counts the whole image.
check_iso_side() {  # RESULT ORIGINAL
  check_iso_files "$1" iso
  same_bytes "$2" 32768 "$1" 32768 $(($(size_of "$2") - 32768))
  [[ $(be32 "$1" 4) == $(($(size_of "$1") / 512)) ]] || fail "block count in block 0 of $1"
  [[ $(head -c 2 "$1") == ER ]] || fail "$1 does not start with ER"
}

# Partition PART of RESULT is a volume named LABEL holding exactly DIR.
check_volume() {  # RESULT PART DIR LABEL
  expect_volume_files "$1" "$2" "$3"
  [[ $(volume_name "$1" "$2") == "$4" ]] || fail "volume name of partition $2 of $1"
}

hybrid_of() {  # RESULT ISO ARGS...
  cp "$2" "$1"
  run_cli 0 --from-file "${@:3}" --to-iso "$1"
  expect_completed
}

# --- One Apple_HFS partition behind a map: the map is merged.
new_partitioned wrapped.img $((64 + 16384)) Apple_HFS:VolA:64:16384
fill_volume wrapped.img 1 vol1
hybrid_of a.iso plain.iso wrapped.img
expect_size a.iso $((ISO_BYTES + 16384 * 512))
expect_partx a.iso 1 "1 63 Apple_partition_map Apple"
expect_partx a.iso 2 "$ISO_BLOCKS 16384 Apple_HFS VolA"
[[ -z $(partx_row a.iso 3 2>/dev/null) ]] || fail "a.iso has a third partition"
same_bytes wrapped.img $((64 * 512)) a.iso "$ISO_BYTES" $((16384 * 512))
check_volume a.iso 1 vol1 VolA
check_iso_side a.iso plain.iso

# --- Three Apple_HFS partitions and a free one.
new_partitioned three.img $((64 + 16384 + 100 + 4096 + 3000)) \
  Apple_HFS:VolA:64:16384 Apple_Free:Spare:16448:100 \
  Apple_HFS:VolB:16548:4096 Apple_HFS:VolC:20644:3000
fill_volume three.img 1 vol1
fill_volume three.img 2 vol2
fill_volume three.img 3 vol3

# All of them: merged in map order, the free entry left out.
hybrid_of b.iso plain.iso three.img --partition all
expect_size b.iso $((ISO_BYTES + (16384 + 4096 + 3000) * 512))
expect_partx b.iso 1 "1 63 Apple_partition_map Apple"
expect_partx b.iso 2 "$ISO_BLOCKS 16384 Apple_HFS VolA"
expect_partx b.iso 3 "$((ISO_BLOCKS + 16384)) 4096 Apple_HFS VolB"
expect_partx b.iso 4 "$((ISO_BLOCKS + 16384 + 4096)) 3000 Apple_HFS VolC"
[[ -z $(partx_row b.iso 5 2>/dev/null) ]] || fail "b.iso has a fifth partition"
same_bytes three.img $((16548 * 512)) b.iso $((ISO_BYTES + 16384 * 512)) $((4096 * 512))
check_volume b.iso 1 vol1 VolA
check_volume b.iso 2 vol2 VolB
check_volume b.iso 3 vol3 VolC
check_iso_side b.iso plain.iso

# Row 2: only the third volume, under a map of our own.
hybrid_of c.iso plain.iso three.img --partition 2
expect_size c.iso $((ISO_BYTES + 3000 * 512))
expect_partx c.iso 1 "1 63 Apple_partition_map Apple"
expect_partx c.iso 2 "$ISO_BLOCKS 3000 Apple_HFS MacOS"
[[ -z $(partx_row c.iso 3 2>/dev/null) ]] || fail "c.iso has a third partition"
check_volume c.iso 1 vol3 VolC
check_iso_side c.iso plain.iso

# Two partitions, row 0 and row 1.
new_partitioned two.img $((64 + 4096 + 3000)) Apple_HFS:VolB:64:4096 Apple_HFS:VolC:4160:3000
fill_volume two.img 1 vol2
fill_volume two.img 2 vol3
hybrid_of d.iso plain.iso two.img --partition 0
expect_size d.iso $((ISO_BYTES + 4096 * 512))
expect_partx d.iso 2 "$ISO_BLOCKS 4096 Apple_HFS MacOS"
check_volume d.iso 1 vol2 VolB
hybrid_of e.iso plain.iso two.img --partition 1
expect_size e.iso $((ISO_BYTES + 3000 * 512))
check_volume e.iso 1 vol3 VolC
check_iso_side e.iso plain.iso

# --- A bare volume, taken whole, behind an ISO whose length is not a
# multiple of 512: it is padded with zeros up to the next block.
new_volume bare.img 2048 Bare
fill_volume bare.img 0 vol3
cp plain.iso odd.iso
head -c 300 /dev/zero >>odd.iso  # zeros after the volume: padding, kept
PADDED=$((ISO_BYTES + 512))
hybrid_of f.iso odd.iso bare.img
expect_size f.iso $((PADDED + 2048 * 1024))
same_bytes /dev/zero 0 f.iso $((ISO_BYTES + 300)) 212
same_bytes bare.img 0 f.iso "$PADDED" $((2048 * 1024))
expect_partx f.iso 2 "$((PADDED / 512)) 4096 Apple_HFS MacOS"
check_volume f.iso 1 vol3 Bare
check_iso_side f.iso odd.iso

# --- --dry-run, then the job, then --undo, on ISO images of genisoimage and
# of xorriso (its mkisofs mode, and its own, which leaves zeros after the
# volume): the dry run writes nothing and plans what the job then writes
# (the entries as partx reads them, the length); --undo gives back the ISO
# image byte for byte. --quiet prints nothing, --verbose the status lines.
xorriso -as mkisofs -o xorriso-mkisofs.iso iso 2>/dev/null
xorriso -outdev xorriso-native.iso -map iso / >/dev/null 2>&1
for original in plain.iso xorriso-mkisofs.iso xorriso-native.iso; do
  cp "$original" job.iso
  run_cli 0 --dry-run --from-file=two.img --to-iso=job.iso --partition=all
  cmp -s job.iso "$original" || fail "--dry-run changed $original"
  cp "$WORK/out.txt" plan.txt
  run_cli 0 --from-file two.img --to-iso job.iso --partition all --quiet
  [[ ! -s $WORK/out.txt && ! -s $WORK/err.txt ]] || fail "--quiet printed something"
  planned=$(sed -n 's/^  \([0-9]*\)  first \([0-9]*\)  blocks \([0-9]*\)  \([^ ]*\)  "\(.*\)"$/\1 \2 \3 \4 \5/p' plan.txt)
  written=$(partx --show -g -o NR,START,SECTORS,TYPE,NAME job.iso | tr -s ' ' | sed 's/^ //; s/ $//')
  [[ -n $planned && $planned == "$written" ]] ||
    fail "$original: planned entries '$planned', written '$written'"
  grep -qx "Final size: $(size_of job.iso) bytes" plan.txt ||
    fail "$original: planned $(grep Final plan.txt), written $(size_of job.iso) bytes"
  run_cli 0 --undo job.iso --verbose
  expect_err "${TEXT[working]}"
  expect_err "is not restored."
  cmp -s job.iso "$original" || fail "--undo did not give back $original"
done

# --- A completed job exits 0 whatever becomes of stdout (closed, a pipe
# whose reader has gone, a full disk); stderr tells the loss and the result,
# and nothing printed lands in the ISO image. --info fails with its output.
if ! on_wine; then
  mkfifo nobody-reads
  exec 3<>nobody-reads 4>nobody-reads 3<&-  # fd 4: a pipe with no reader
  cp plain.iso hybrid.iso
  run_cli 0 --from-file bare.img --to-iso hybrid.iso
  # ROW: stdout, target.iso before and after, exit status, result (- none), arguments
  while read -r stdout before after want result args; do
    read -ra words <<<"$args"
    cp "$before" target.iso
    rc=0
    case $stdout in
      closed) "$CLI" "${words[@]}" </dev/null >&- 2>err.txt || rc=$? ;;
      gone) "$CLI" "${words[@]}" </dev/null >&4 2>err.txt || rc=$? ;;
      full) "$CLI" "${words[@]}" </dev/null >/dev/full 2>err.txt || rc=$? ;;
    esac
    [[ $rc == "$want" ]] || fail "stdout $stdout, $args: exit $rc, expected $want"
    expect_err "zelvorant-cli: the standard output could not be written ("
    case $result in
      -) ;;
      completed_*)
        # shellcheck disable=SC2053  # a pattern on purpose
        [[ $(<err.txt) == $(completion_pattern "$result") ]] || fail "stderr lacks the result" ;;
      *) expect_err "${TEXT[$result]}" ;;
    esac
    cmp -s target.iso "$after" || fail "stdout $stdout, $args: target.iso is not $after"
  done <<'ROWS'
closed plain.iso  hybrid.iso 0 completed_hybrid --from-file bare.img --to-iso target.iso
gone   plain.iso  hybrid.iso 0 completed_hybrid --from-file bare.img --to-iso target.iso
full   plain.iso  hybrid.iso 0 completed_hybrid --from-file bare.img --to-iso target.iso
closed hybrid.iso plain.iso  0 completed_undo --undo target.iso
gone   plain.iso  plain.iso  0 dry_run_done --dry-run --from-file bare.img --to-iso target.iso
gone   plain.iso  plain.iso  1 -            --info target.iso
ROWS
  exec 4>&-
fi

# --- --undo asks before it cuts bytes after the hybrid's last partition,
# which its map does not account for: Cancel (no terminal, no --yes) leaves
# the image as it was, --yes cuts them with the hybrid's data.
cp plain.iso hybrid.iso
run_cli 0 --from-file two.img --to-iso hybrid.iso --partition all --quiet
cp hybrid.iso grown.iso
head -c 1048576 /dev/urandom >>grown.iso
cp grown.iso job.iso
run_cli 1 --undo job.iso
expect_err "${TEXT[undo_1_mib_after_data]}"
expect_err "${TEXT[answered_cancel_after_data]}"
cmp -s job.iso grown.iso || fail "a cancelled --undo changed the image"
run_cli 0 --undo job.iso --yes
cmp -s job.iso plain.iso || fail "--undo --yes did not give back plain.iso"

# --- A signal while --undo copies the hybrid's data aside stops it there,
# and the hybrid is put back whole. (SIGKILL is cli_killed_jobs.sh's; Wine
# turns no signal into a console event.)
if ! on_wine; then
  busy_volume big.img 400
  cp plain.iso big.iso
  run_cli 0 --from-file big.img --to-iso big.iso
  sum=$(cksum <big.iso)
  cp big.iso sig.iso
  "$CLI" --undo sig.iso </dev/null >first.out 2>first.err &
  pid=$!
  # Block 0 zeroed: the copy has begun.
  for _ in $(seq 2000); do
    [[ $(od -An -tx1 -N 2 sig.iso) == " 00 00" ]] && break
    sleep 0.005
  done
  kill -s INT "$pid"
  rc=0
  wait "$pid" || rc=$?
  [[ $rc == 130 ]] || fail "SIGINT during --undo: exit $rc"
  [[ $(<first.err) == *"${TEXT[stopped]}${TEXT[iso_left]}"* ]] || fail "SIGINT: $(<first.err)"
  [[ $(cksum <sig.iso) == "$sum" ]] || fail "SIGINT during --undo: the hybrid changed"
fi

echo "cli_hybrid_roundtrip: all checks passed"
