#!/usr/bin/env bash
# Every refusal and every cancelled question exits 1 with its message and
# leaves the ISO image byte-identical; usage errors exit 2 and touch nothing.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

sample_iso target.iso 3000 70000
new_volume bare.img 1024 Bare
new_partitioned two.img $((64 + 2048 + 2048)) Apple_HFS:First:64:2048 Apple_HFS:Second:2112:2048

# --- Questions left unanswered, or answered with a row that is not there.
expect_refused target.iso \
  "Answered Cancel; --partition N (0 to 1) or --partition all would choose." \
  --from-file two.img --to-iso target.iso
expect_err "Select partition to open"
expect_err "First"
expect_refused target.iso "There is no partition 5; answered Cancel." \
  --from-file two.img --to-iso target.iso --partition 5
# --partition NAME: no row of that name, or two, is refused with the rows,
# also with --quiet.
new_partitioned twins.img $((64 + 2048 + 2048)) Apple_HFS:Twin:64:2048 Apple_HFS:Twin:2112:2048
while IFS='|' read -r image name row text; do
  expect_refused target.iso "$text" --from-file "$image" --to-iso=target.iso --partition="$name" -q
  expect_err "$row"
done <<'ROWS'
two.img|Third|1 Second|No partition is named 'Third'; answered Cancel. Give its row number.
two.img|first|0 First|No partition is named 'first'; answered Cancel. Give its row number.
twins.img|Twin|1 Twin|More than one partition is named 'Twin'; answered Cancel. Give its row number.
ROWS

# --- --partition given: no menu, unless the answer fits no row. NAME is a
# partition's name, or else its HFS volume's; --verbose shows no idle line.
cp two.img named.img
hformat -l "Second Vol" named.img 2 >/dev/null
for name in Second "Second Vol"; do
  cp target.iso named.iso
  run_cli 0 --verbose --from-file named.img --to-iso named.iso --partition "$name"
  [[ $(<"$WORK/err.txt") != *"Select partition"* ]] || fail "a menu with --partition $name"
  [[ $(<"$WORK/err.txt") != *"${TEXT[idle]}"* ]] || fail "--verbose printed the idle line"
  [[ $(volume_name named.iso 1) == "Second Vol" ]] || fail "--partition '$name' took another"
  expect_completed completed_hybrid
  [[ $(<"$WORK/out.txt") == "named.iso "*'"Second Vol"'* ]] || fail "the completion names no volume"
done

# --- --dry-run asks and checks, prints the plan and writes nothing, also
# when it would complete; a refusal is still a refusal.
expect_refused target.iso "There is no partition 5; answered Cancel." \
  --dry-run --from-file two.img --to-iso target.iso --partition 5
cp target.iso before.iso
run_cli 0 --dry-run --from-file two.img --to-iso target.iso --partition all
cmp -s target.iso before.iso || fail "a dry run changed the ISO image"
grep -q "^Final size: " "$WORK/out.txt" || fail "a dry run printed no plan"
grep -qxF -- "${TEXT[dry_run_done]}" "$WORK/out.txt" ||
  fail "a dry run did not say it wrote nothing"
run_cli 0 --dry-run --from-drive A120 --attach disk:1:2=two.img --to-iso target.iso --partition 1
cmp -s target.iso before.iso || fail "a dry run from a disk changed the ISO image"
grep -q "^  2  first [0-9]*  blocks 2048  Apple_HFS  \"MacOS\"$" "$WORK/out.txt" ||
  fail "the plan from a disk: $(<"$WORK/out.txt")"
run_cli 0 --dry-run --from-drive A120 --attach disk:1:2=two.img --to-hfs-image new.img \
  --partition Second
[[ -z $(find . -name 'new.img*') ]] || fail "a dry run made the HFS image"
grep -qx "Copy 2048 blocks of 512 bytes from device A120, from block 2112" "$WORK/out.txt" ||
  fail "the HFS image's plan: $(<"$WORK/out.txt")"
expect_refused target.iso "nowhere/new.img: ${TEXT[cannot_be_opened]}" \
  --dry-run --from-drive A120 --attach disk:1:2=two.img --to-hfs-image nowhere/new.img

# A dry run only reads: a user who may not write the ISO image or the HFS
# image target (mode 444, in a folder of mode 555; root ignores modes, so
# another user runs it) gets the plan. The job itself is refused as ever.
if ! as_not_root; then
  echo "note: running as root under Wine: the read-only targets case is skipped"
else
  mkdir -p ro
  cp target.iso ro/readonly.iso
  cp bare.img ro/old.img
  chmod 444 ro/readonly.iso ro/old.img
  chmod 555 ro
  chmod 755 "$WORK"
  while IFS='|' read -r want holds args; do
    read -ra words <<<"$args"
    rc=0
    "${RUN_AS[@]}" "$CLI" "${words[@]}" </dev/null >out.txt 2>err.txt || rc=$?
    [[ $rc == "$want" ]] && grep -qF -- "$holds" out.txt err.txt ||
      fail "read-only, $args: exit $rc, expected $want with '$holds'"
    cmp -s ro/readonly.iso target.iso && cmp -s ro/old.img bare.img && [[ $(find ro | wc -l) == 3 ]] ||
      fail "read-only, $args: the files changed"
  done <<ROWS
0|Final size: |--dry-run --from-file two.img --to-iso ro/readonly.iso --partition all
0|${TEXT[dry_run_done]}|--dry-run --from-drive A120 --attach disk:1:2=two.img --to-iso ro/readonly.iso --partition 1
0|Copy 2048 blocks|--dry-run --from-drive A120 --attach disk:1:2=two.img --to-hfs-image ro/old.img --partition 1
1|ro/readonly.iso: ${TEXT[cannot_be_opened]}|--from-file two.img --to-iso ro/readonly.iso --partition all
ROWS
  chmod 755 ro
fi

# --- --undo refuses what is no hybrid, and leaves it as it was; so is a
# hybrid whose partition lies over the ISO data (genisoimage -hfs -part).
expect_refused target.iso "${TEXT[undo_not_hybrid]}" --undo target.iso
expect_refused bare.img "${TEXT[undo_not_hybrid]}" --undo bare.img
genisoimage -quiet -hfs -part -o gen-hfs.iso iso 2>/dev/null
expect_refused gen-hfs.iso "lies inside the ISO 9660 volume" --undo gen-hfs.iso

# A sparse 700 MB bare HFS volume: HFS + ISO is past a CD-ROM's capacity.
truncate -s 700M huge.img
printf BD | dd of=huge.img bs=1 seek=1024 conv=notrunc status=none
expect_refused target.iso "Total exceeds the maximum capacity of a CD-ROM." \
  --from-file huge.img --to-iso target.iso
expect_err "The HFS file is 734003200 bytes long."
expect_err "The ISO file is $(size_of target.iso) bytes long."
expect_err "${TEXT[answered_cancel_size]}"
# Each question has its own answer: another one's is no OK to this one; a
# larger medium asks nothing.
expect_refused target.iso "${TEXT[answered_cancel_size]}" \
  --from-file huge.img --to-iso target.iso --overwrite-system-area --remove-after-volume
expect_refused target.iso "${TEXT[answered_cancel_size]}" \
  --from-file huge.img --to-iso target.iso --media cd74
run_cli 0 --dry-run --from-file huge.img --to-iso target.iso --accept-size
expect_err "${TEXT[answered_ok_size]}"
run_cli 0 --dry-run --from-file huge.img --to-iso target.iso --media dvd
[[ ! -s $WORK/err.txt ]] || fail "--media dvd still asked: $(<"$WORK/err.txt")"

# --- An ISO image that is already a hybrid: the second run is refused.
cp target.iso hybrid.iso
run_cli 0 --from-file bare.img --to-iso hybrid.iso
expect_refused hybrid.iso "${TEXT[already_hybrid]}" --from-file bare.img --to-iso hybrid.iso
# ... even when the answers would take every partition.
expect_refused hybrid.iso "${TEXT[already_hybrid]}" \
  --from-file two.img --to-iso hybrid.iso --partition all --yes

# An ISO image too short to hold the map area.
head -c 2048 target.iso >short.iso
expect_refused short.iso "This ISO image is only 2048 bytes long" --from-file bare.img --to-iso short.iso

# --- HFS images holding no usable partition.
random_file noise.img 100000
expect_refused target.iso "${TEXT[no_hfs_partition]}" --from-file noise.img --to-iso target.iso
: >empty.img
expect_refused target.iso "${TEXT[no_hfs_partition]}" --from-file empty.img --to-iso target.iso
# A map whose only entries are of other types.
new_partitioned other.img $((64 + 100)) Apple_Free:Spare:64:100
expect_refused target.iso "${TEXT[no_hfs_partition]}" --from-file other.img --to-iso target.iso

# Truncated images: a partition runs past the end of the file.
new_partitioned cut.img $((64 + 2048)) Apple_HFS:Cut:64:2048
truncate -s $(((64 + 1000) * 512)) cut.img
expect_refused target.iso \
  "The HFS partition \"Cut\" ends at byte $(((64 + 2048) * 512)), but the HFS file is only $(((64 + 1000) * 512)) bytes long." \
  --from-file cut.img --to-iso target.iso
cp two.img twocut.img
truncate -s $(((2112 + 1000) * 512)) twocut.img
for row in 1 all; do
  expect_refused target.iso "The HFS partition \"Second\" ends at byte $(((2112 + 2048) * 512))" \
    --from-file twocut.img --to-iso target.iso --partition "$row"
done

# --- The same file as source and target: by path, hard link or symbolic link.
cp bare.img self.img
ln self.img hardlink.img
ln -s self.img symlink.img
for source in self.img hardlink.img symlink.img "$WORK/self.img"; do
  expect_refused self.img "${TEXT[same_file]}" --from-file "$source" --to-iso self.img
done

# --- Files that cannot be opened; a source we cannot read from.
run_cli 1 --from-file bare.img --to-iso missing.iso
expect_err "missing.iso: ${TEXT[cannot_be_opened]}"
[[ ! -e missing.iso ]] || fail "missing.iso was created"
expect_refused target.iso "nowhere.img: ${TEXT[cannot_be_opened]}" --from-file nowhere.img --to-iso target.iso
expect_refused target.iso "${TEXT[floppy_not_direct]}" --from-drive A: --to-iso target.iso
expect_refused target.iso "does not answer." --from-drive A050 --to-iso target.iso

# --- Usage errors: exit 2, a hint on stderr, the ISO untouched.
cp target.iso before.iso
while IFS= read -r args; do
  # shellcheck disable=SC2086  # each line is a list of words
  run_cli 2 $args
  expect_err "Try 'zelvorant-cli --help'."
  cmp -s target.iso before.iso || fail "ISO changed by usage error: $args"
done <<'EOF'

--bogus --from-file two.img --to-iso target.iso
--from-file two.img --to-iso target.iso --partition 8
--from-file two.img --to-iso target.iso --partition -1
--from-file two.img --to-iso target.iso --partition=
--from-file=two.img --to-iso target.iso --yes=1
--from-file two.img --to-iso target.iso -- --partition 1
--from-file two.img --to-iso target.iso --quiet --verbose
--undo target.iso --from-file two.img
--undo target.iso --dry-run
--from-file two.img --to-iso
--from-file two.img --from-drive A: --to-iso target.iso
--from-file two.img
--to-iso target.iso
--from-file two.img --to-iso target.iso --to-hfs-image other.img
EOF

echo "cli_refusals_leave_iso_untouched: all checks passed"
