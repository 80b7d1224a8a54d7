#!/usr/bin/env bash
# File names as users have them: letters of any script, spaces, and paths
# longer than the 260 characters that Windows programs once stopped at. Run
# on the native build and, through Wine, on zelvorant-cli.exe, whose code page
# is UTF-8 by its manifest.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

sample_iso plain.iso 5000
random_file vol/Letter 4000
new_volume vol.hfs 800 "Nihon"
fill_volume vol.hfs 0 vol

deep="Ünïcødé 日本/$(printf 'd%.0s' {1..90})/$(printf 'e%.0s' {1..90})/$(printf 'f%.0s' {1..90})"
mkdir -p "$deep"
source_path="$deep/Quelle 日本.hfs"
target_path="$deep/Ünïcødé 日本.iso"
((${#target_path} > 260)) || fail "the test path is only ${#target_path} characters"
cp vol.hfs "$source_path"
cp plain.iso "$target_path"

# A name that is not there is named in the message as the user wrote it.
run_cli 1 --from-file "$deep/Fehlt 日本.hfs" --to-iso "$target_path"
expect_err "$deep/Fehlt 日本.hfs: ${TEXT[cannot_be_opened]}"
cmp -s plain.iso "$target_path" || fail "the refused job changed the ISO image"

run_cli 0 --from-file "$source_path" --to-iso "$target_path"
expect_completed
cp "$target_path" hybrid.iso
check_iso_files hybrid.iso iso
same_bytes vol.hfs 0 hybrid.iso $(($(size_of plain.iso))) "$(size_of vol.hfs)"
expect_volume_files hybrid.iso 1 vol

# An HFS image target of such a name is replaced by the copy of a drive's
# volume; the file that stood there is gone only once the copy is complete.
new_partitioned disk.img $((64 + 1600)) Apple_HFS:Platte:64:1600
fill_volume disk.img 1 vol
image_path="$deep/Kopie 日本.img"
echo "an older file" >"$image_path"
run_cli 0 --attach "disk:0:3=disk.img" --from-drive A030 --to-hfs-image "$image_path"
expect_completed
cmp -s disk.img "$image_path" || fail "the HFS image at the long path is not the drive's volume"
leftovers=$(find "$deep" -name '*.part' | wc -l)
((leftovers == 0)) || fail "a temporary file was left beside the HFS image"

# Partition and volume names are whatever bytes the image holds. On the
# terminal each control character of theirs is a '?', in the partition menu,
# the messages, the --dry-run plan and --info; the JSON escapes them.
no_controls() {  # FILE WHAT
  ! LC_ALL=C grep -qP '[\x01-\x09\x0b-\x1f\x7f]' "$1" || fail "a control character in $2: $(cat -v "$1")"
}
red=$'Red\e[31m\a'
new_partitioned names.img $((64 + 3200)) "Apple_HFS:$red:64:1600" $'Apple_HFS:Two\x7f\x1b:1664:1600'
run_cli 1 --from-file names.img --to-iso plain.iso
no_controls "$WORK/err.txt" "the partition menu"
expect_err '0 Red?[31m?'
expect_err '1 Two??'
head -c $(((64 + 2400) * 512)) names.img >short.img
run_cli 1 --from-file short.img --to-iso plain.iso --partition 1
no_controls "$WORK/err.txt" "a message"
expect_err 'The HFS partition "Two??" ends at byte'
run_cli 0 --from-file names.img --to-iso plain.iso --partition all --dry-run
no_controls "$WORK/out.txt" "the plan"
grep -qF 'Apple_HFS  "Red?[31m?"' "$WORK/out.txt" || fail "plan: $(cat -v "$WORK/out.txt")"
run_cli 0 --info names.img
no_controls "$WORK/out.txt" "--info"
grep -qF 'Apple_HFS "Red?[31m?"' "$WORK/out.txt" || fail "--info: $(cat -v "$WORK/out.txt")"
grep -qF 'volume: HFS "Two??"' "$WORK/out.txt" || fail "--info: $(cat -v "$WORK/out.txt")"
run_cli 0 --info names.img --json
no_controls "$WORK/out.txt" "--json"
python3 - "$WORK/out.txt" <<'PY' || fail "--json: $(cat -v "$WORK/out.txt")"
import json, sys
entries = json.load(open(sys.argv[1]))["entries"]
assert [e["name"] for e in entries[1:]] == ["Red\x1b[31m\x07", "Two\x7f\x1b"], entries
assert entries[2]["volume"]["name"] == "Two\x7f\x1b", entries[2]
PY
grep -qF '"Red\u001b[31m\u0007"' "$WORK/out.txt" || fail "--json does not escape the name"

echo "PASS cli_file_names"
