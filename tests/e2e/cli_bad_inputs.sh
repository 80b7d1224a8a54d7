#!/usr/bin/env bash
# Bad inputs: every one is refused with its own message and exit status 1 -
# never a crash, never a success - and nothing among the inputs changes:
# no file is written, created or emptied, the ISO image stays byte-identical.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

# The inputs live in a folder of their own, which must not change; the CLI's
# output goes to $WORK, and Wine keeps its settings in $HOME ($WORK) too.
FILES=$WORK/files
mkdir "$FILES"
cd "$FILES"

sample_iso target.iso 3000 50000
new_volume bare.img 1024 Bare
new_partitioned two.img $((64 + 2048)) Apple_HFS:First:64:2048
new_partitioned pair.img $((64 + 2 * 1600)) Apple_HFS:A:64:1600 Apple_HFS:B:1664:1600
mkdir folder sub
# Sources whose hybrid --info would flag: an Apple_HFS entry over the map
# itself, one that begins inside another's volume, and "BD" at byte 1024 of
# a file that ends two bytes later.
N=1700
new_map over_map.img $((64 + N)) Apple_partition_map:Apple:1:63 "Apple_HFS:MacOS:64:$N" \
  Apple_HFS:Map:0:64
format_partitions over_map.img MacOS
new_map overlapping.img $((64 + N)) Apple_partition_map:Apple:1:63 "Apple_HFS:A:64:$N" \
  "Apple_HFS:B:100:$((N - 36))"
format_partitions overlapping.img A
{
  head -c 1024 /dev/zero
  printf BD
} >cut_short.img
: >empty.img
printf 'E' >byte.img

# Sparse images past 2 GiB whose map puts a partition beyond the first 2 GiB.
FAR=$((4 * 1024 * 1024 + 100))  # the partition's first block
sparse_far() {  # FILE BLOCKS-OF-THE-PARTITION-PRESENT
  new_map "$1" $((FAR + 2048)) Apple_partition_map:Apple:1:63 "Apple_HFS:Far:$FAR:2048"
  truncate -s $(((FAR + $2) * 512)) "$1"
}
sparse_far far_cut.img 1000

# The same file by another path or name.
cp bare.img self.img
ln self.img hard.img
ln -s self.img soft.img
ln -s .. sub/up

# Lists every entry of the folder with its type, size, time of last change
# and mode (sizes and times suffice: nothing here changes a file's bytes
# without changing its time). A folder's time is left out: an HFS image
# target's new file is made beside it before the job starts, and removed.
snapshot() {
  find . \( -type d -printf '%p %y %m\n' \) -o -printf '%p %y %s %T@ %m\n' | sort
}

CASES=0
# The CLI must refuse ARGS with exit 1 and TEXT on stderr, write nothing to
# stdout, and change nothing.
refused() {  # LABEL TEXT ARGS...
  local label=$1 text=$2 rc=0
  shift 2
  cp target.iso "$WORK/before"
  local state
  state=$(snapshot)
  "${RUN_AS[@]}" "$CLI" "$@" </dev/null >"$WORK/out.txt" 2>"$WORK/err.txt" || rc=$?
  ((rc < 128)) || fail "$label: crashed (exit $rc): zelvorant-cli $*"
  [[ $rc == 1 ]] || fail "$label: exit $rc, expected 1: zelvorant-cli $*"
  [[ $(<"$WORK/err.txt") == *"$text"* ]] || fail "$label: stderr lacks '$text': zelvorant-cli $*"
  [[ ! -s $WORK/out.txt ]] || fail "$label: output on stdout: zelvorant-cli $*"
  cmp -s target.iso "$WORK/before" || fail "$label: target.iso changed: zelvorant-cli $*"
  local now
  now=$(snapshot)
  [[ $now == "$state" ]] ||
    fail "$label: the folder changed: zelvorant-cli $*
$(diff <(echo "$state") <(echo "$now"))"
  CASES=$((CASES + 1))
}
RUN_AS=()

# (\n: a line break in TEXT)
SAME='The HFS image and the ISO image are the same file.\nPlease choose two different files.'
ATTACHED='The target file is the image file of an attached device.\nPlease choose two different files.'

# LABEL | TEXT on stderr | ARGS (split at spaces)
while IFS='|' read -r label text args; do
  [[ -n $label ]] || continue
  text=${text//\\n/$'\n'}
  # shellcheck disable=SC2086  # ARGS is a list of words
  refused "$label" "$text" $args
done <<EOF
missing HFS image|nowhere.img: ${TEXT[cannot_be_opened]} (No such file or directory)|--from-file nowhere.img --to-iso target.iso
missing ISO image|missing.iso: ${TEXT[cannot_be_opened]} (No such file or directory)|--from-file bare.img --to-iso missing.iso
missing folder of the HFS image target|nowhere/out.img: ${TEXT[cannot_be_opened]} (No such file or directory)|--from-drive A120 --attach disk:1:2=two.img --to-hfs-image nowhere/out.img
folder as HFS image|folder: ${TEXT[cannot_be_opened]}|--from-file folder --to-iso target.iso
folder as ISO image|folder: ${TEXT[cannot_be_opened]}|--from-file bare.img --to-iso folder
folder as HFS image target|folder: ${TEXT[cannot_be_opened]}|--from-drive A120 --attach disk:1:2=two.img --to-hfs-image folder
an HFS image as target, unknown drive|"X120" names no device.|--from-drive X120 --to-hfs-image bare.img
an HFS image as target, no floppy drive E:|There is no floppy drive E:.|--from-drive E: --to-hfs-image bare.img
an HFS image as target, partition choice cancelled|Answered Cancel; --partition N|--from-drive A120 --attach disk:1:2=pair.img --to-hfs-image bare.img
zero-length HFS image|This file holds no HFS partition.|--from-file empty.img --to-iso target.iso
one-byte HFS image|This file holds no HFS partition.|--from-file byte.img --to-iso target.iso
2 GiB+ HFS image, whole file past the capacity|Total exceeds the maximum capacity of a CD-ROM.|--from-file far_cut.img --to-iso target.iso
2 GiB+ HFS image, map past its end|The HFS partition "Far" ends at byte $(((FAR + 2048) * 512)), but the HFS file is only $(((FAR + 1000) * 512)) bytes long.|--from-file far_cut.img --to-iso target.iso --yes
same file, same path|$SAME|--from-file target.iso --to-iso target.iso
same file, ./ path|$SAME|--from-file ./target.iso --to-iso target.iso
same file, through ..|$SAME|--from-file sub/../target.iso --to-iso target.iso
same file, through a linked folder|$SAME|--from-file sub/up/target.iso --to-iso target.iso
same file, absolute path|$SAME|--from-file $FILES/target.iso --to-iso target.iso
same file, symbolic link|$SAME|--from-file soft.img --to-iso self.img
same file, symbolic link as ISO|$SAME|--from-file self.img --to-iso soft.img
same file, hard link|$SAME|--from-file hard.img --to-iso self.img
attached disk is the ISO image|$ATTACHED|--from-drive A120 --attach disk:1:2=target.iso --to-iso target.iso
attached disk is the HFS image target|$ATTACHED|--from-drive A120 --attach disk:1:2=two.img --to-hfs-image ./two.img
attached CD-ROM is the HFS image target, by a link|$ATTACHED|--from-drive C120 --attach cdrom:1:2=two.img --to-hfs-image sub/up/two.img
EOF
# The system's reason for a folder is Linux's: Windows refuses to open one
# at all ("Permission denied").
if ! on_wine; then
  refused "folder as ISO image, the reason" "folder: ${TEXT[cannot_be_opened]} (Is a directory)" \
    --from-file bare.img --to-iso folder
fi

# A hybrid that --info would flag is refused in --info's words.
unsound() {  # PROBLEM
  echo "${TEXT[planned_hybrid_unsound]/PROBLEM/"$1"}"
}
OVER_MAP=$(unsound 'entry 3 ("Map", Apple_HFS) holds no HFS or HFS+ volume header')
OVERLAP=$(unsound 'entry 3 ("B", Apple_HFS) holds no HFS or HFS+ volume header')
refused "an entry over the map" "$OVER_MAP" \
  --from-file over_map.img --to-iso target.iso --partition all
refused "an entry over the map, chosen" \
  "$(unsound 'entry 2 ("MacOS", Apple_HFS) holds no HFS or HFS+ volume header')" \
  --from-file over_map.img --to-iso target.iso --partition 1
refused "an entry over the map, from a disk" "$OVER_MAP" \
  --attach disk:1:2=over_map.img --from-drive A120 --to-iso target.iso --partition all
refused "overlapping entries" "$OVERLAP" \
  --from-file overlapping.img --to-iso target.iso --partition all
refused "overlapping entries, from a CD-ROM" "$OVERLAP" \
  --attach cdrom:1:2=overlapping.img --from-drive C120 --to-iso target.iso --partition all
refused "a volume cut short after its signature" "${TEXT[no_hfs_partition]}" \
  --from-file cut_short.img --to-iso target.iso
refused "a dry run of an unsound hybrid" "$OVERLAP" \
  --from-file overlapping.img --to-iso target.iso --partition all --dry-run

# A file that opens but cannot be read: the program's own memory at offset 0.
if [[ -r /proc/self/mem ]]; then
  refused "unreadable HFS image" "Error reading file /proc/self/mem." \
    --from-file /proc/self/mem --to-iso target.iso
fi

# File modes stop everybody but the superuser: as root, the cases run as
# nobody. Wine will not run in a prefix another user owns, so under Wine
# they need a user that is not root.
if ! as_not_root; then
  echo "note: running as root under Wine: the unreadable and read-only file cases are skipped"
else
  # The job opens both files for reading and writing: only the mode under
  # test may stand in its way.
  chmod 755 "$WORK" "$FILES"
  cp bare.img mine.img
  cp target.iso mine.iso
  cp bare.img locked.img
  cp target.iso readonly.iso
  ((${#RUN_AS[@]} == 0)) || chown 65534:65534 mine.img mine.iso locked.img readonly.iso
  chmod 600 mine.img mine.iso
  chmod 000 locked.img
  chmod 444 readonly.iso
  refused "unreadable HFS image (mode 000)" "locked.img: ${TEXT[cannot_be_opened]}" \
    --from-file locked.img --to-iso mine.iso
  refused "read-only ISO image (mode 444)" "readonly.iso: ${TEXT[cannot_be_opened]}" \
    --from-file mine.img --to-iso readonly.iso
  cmp -s readonly.iso target.iso || fail "readonly.iso changed"
  # An HFS image target is made beside the file it replaces: a folder that
  # cannot be written refuses it before the job starts, as does a file the
  # user may not write.
  mkdir shut
  cp two.img shut/out.img
  ((${#RUN_AS[@]} == 0)) || chown -R 65534:65534 shut
  chmod 555 shut
  refused "HFS image target in a read-only folder" "shut/out.img: ${TEXT[cannot_be_opened]}" \
    --from-drive A120 --attach disk:1:2=two.img --to-hfs-image shut/out.img
  chmod 755 shut
  chmod 444 shut/out.img
  refused "read-only HFS image target (mode 444)" "shut/out.img: ${TEXT[cannot_be_opened]}" \
    --from-drive A120 --attach disk:1:2=two.img --to-hfs-image shut/out.img
  cmp -s shut/out.img two.img || fail "shut/out.img changed"
  RUN_AS=()
fi

# A folder behind --attach is no image: a usage error with the system's reason.
run_cli 2 --from-drive A120 --attach disk:1:2=folder --to-iso target.iso
expect_err "cannot open folder: "

# The one 2 GiB+ image that is not bad: its partition lies past 2 GiB and
# inside the file; it completes, and its bytes land behind the ISO data.
cp target.iso big.iso
sparse_far far_whole.img 2048
random_file part.bin $((2048 * 512))
printf BD | dd of=part.bin bs=1 seek=1024 conv=notrunc status=none  # a volume's header
dd if=part.bin of=far_whole.img bs=512 seek="$FAR" conv=notrunc status=none
run_cli 0 --from-file far_whole.img --to-iso big.iso --yes
expect_completed
[[ $(be32 big.iso $((1024 + 8))) == $(($(size_of target.iso) / 512)) ]] ||
  fail "the partition does not start behind the ISO data"
same_bytes part.bin 0 big.iso "$(size_of target.iso)" $((2048 * 512))

echo "cli_bad_inputs: $CASES refusals checked, all passed"
