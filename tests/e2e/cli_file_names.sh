#!/usr/bin/env bash
# File names as users have them: letters of any script, spaces, and paths
# longer than the 260 characters that Windows programs once stopped at. Run
# on the native build and, through Wine, on zelvorant-cli.exe, whose code page
# is UTF-8 by its manifest.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

random_file iso/README 5000
new_iso plain.iso iso
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
expect_err "Error opening file $deep/Fehlt 日本.hfs"
cmp -s plain.iso "$target_path" || fail "the refused job changed the ISO image"

run_cli 0 --from-file "$source_path" --to-iso "$target_path"
expect_completed
cp "$target_path" hybrid.iso
check_iso_files hybrid.iso iso
same_bytes vol.hfs 0 hybrid.iso $(($(size_of plain.iso))) "$(size_of vol.hfs)"
rm -rf dump dump.lst
dump_volume hybrid.iso 1 dump
diff -r vol dump >/dev/null || fail "the HFS side of the hybrid differs from the volume"

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
echo "PASS cli_file_names"
