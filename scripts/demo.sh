#!/usr/bin/env bash
# Shows zelvorant at work from start to end: installs what is needed, builds
# zelvorant-cli, makes a small HFS volume and a small ISO 9660 image, makes
# the ISO image a Mac/PC hybrid, and reads both sides of the result back with
# tools that know nothing of zelvorant (hfsutils, isoinfo, partx). Then it
# puts the hybrid on the simulated SCSI bus as a CD-ROM and copies its HFS
# volume back into an HFS image file.
#
# Everything is made in out/demo (or $DEMO_DIR); the images stay there to be
# looked at. Exits non-zero as soon as anything does not read back as written.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

demo_dir=${DEMO_DIR:-$repo/out/demo}
cli=$repo/build/zelvorant-cli

# The commands run are echoed on fd 3, the terminal, even when their own
# output is redirected or piped.
exec 3>&1
step() { printf '\n==> %s\n' "$*" >&3; }
show() { printf '    $ %s\n' "$*" >&3; "$@"; }
fail() { printf '\nDEMO FAILED: %s\n' "$*" >&2; exit 1; }
ok() { printf '    ok: %s\n' "$*"; }

step "Installing what is needed"
bash scripts/install-deps.sh --cli

step "Building zelvorant-cli (Release) in build/"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZELVORANT_SANITIZE=OFF >/dev/null
cmake --build build -j"$(nproc)" --target zelvorant-cli
"$cli" --version

step "Making sample data in $demo_dir"
rm -rf "$demo_dir"
mkdir -p "$demo_dir/mac-files" "$demo_dir/pc-files/docs" "$demo_dir/home"
cd "$demo_dir"
# hfsutils keeps the current volume in ~/.hcwd: keep it out of the real home.
export HOME=$demo_dir/home
mounted=0
cleanup() { if ((mounted)); then humount >/dev/null 2>&1 || true; fi; }
trap cleanup EXIT

printf 'Hello from the Mac side.\n' >mac-files/ReadMe.txt
printf 'Line %s of the release notes.\n' $(seq 1 2000) >mac-files/Notes.txt
printf 'Shopping list:\nmilk\nbread\n' >mac-files/List.txt
printf 'Hello from the PC side.\n' >pc-files/readme.txt
printf 'Row %s of the manual.\n' $(seq 1 3000) >pc-files/docs/manual.txt

echo "    HFS volume hfs.img (4 MiB) with the files of mac-files/:"
truncate -s 4M hfs.img
show hformat -l "Demo Mac" hfs.img 0 >/dev/null
mounted=1
show hmkdir Documents
show hcopy -r mac-files/ReadMe.txt :
show hcopy -r mac-files/Notes.txt :Documents:
show hcopy -r mac-files/List.txt :Documents:
show hls -lR
humount >/dev/null
mounted=0

echo "    ISO 9660 image cd.iso with the files of pc-files/:"
show genisoimage -quiet -r -J -V DEMO_PC -o cd.iso pc-files
cp cd.iso cd-before.iso

hfs_bytes=$(stat -c %s hfs.img)
iso_bytes=$(stat -c %s cd.iso)
padded=$(( (iso_bytes + 511) / 512 * 512 ))
echo "    hfs.img: $hfs_bytes bytes; cd.iso: $iso_bytes bytes"

step "Making cd.iso a hybrid with zelvorant-cli"
set +e
show "$cli" --from-file hfs.img --to-iso cd.iso >cli.out 2>cli.err
status=$?
set -e
sed 's/^/    stdout: /' cli.out
sed 's/^/    stderr: /' cli.err
((status == 0)) || fail "zelvorant-cli exited with $status"
grep -q '^cd.iso is now a Mac/PC hybrid: ' cli.out || fail "no completion message on stdout"
ok "exit status 0, completion message on stdout"

step "Checking the bytes of the hybrid image"
hybrid_bytes=$(stat -c %s cd.iso)
((hybrid_bytes == padded + hfs_bytes)) ||
  fail "cd.iso is $hybrid_bytes bytes, expected $padded + $hfs_bytes"
ok "length $hybrid_bytes = ISO data ($padded) + HFS volume ($hfs_bytes)"
[[ $(head -c 2 cd.iso) == ER ]] || fail "cd.iso does not begin with a partition map (\"ER\")"
ok "begins with a Driver Descriptor (\"ER\")"
cmp -s -i 32768 -n $((iso_bytes - 32768)) cd.iso cd-before.iso ||
  fail "the ISO 9660 data past the first 32,768 bytes changed"
ok "ISO 9660 data past the first 32,768 bytes unchanged"
cmp -s -i "$padded:0" -n "$hfs_bytes" cd.iso hfs.img ||
  fail "the data behind the ISO data are not the HFS volume"
ok "the HFS volume is appended byte for byte at $padded"

step "Reading the partition map (partx)"
show partx --show cd.iso
read -r start sectors < <(partx -g -o START,SECTORS,NAME cd.iso | awk '$3 == "MacOS" {print $1, $2}') || true
[[ -n ${start:-} ]] || fail "partx finds no partition named MacOS"
((start * 512 == padded && sectors * 512 == hfs_bytes)) ||
  fail "partition MacOS is at block $start, $sectors blocks; expected $((padded / 512)), $((hfs_bytes / 512))"
ok "partition MacOS starts at block $start and holds $sectors blocks"

step "PC side: reading the ISO 9660 volume (isoinfo)"
show isoinfo -d -i cd.iso | grep -E '^(Volume id|Volume size)' | sed 's/^/    /'
show isoinfo -R -l -i cd.iso
for file in readme.txt docs/manual.txt; do
  isoinfo -R -i cd.iso -x "/$file" | cmp -s - "pc-files/$file" || fail "PC side: /$file differs"
  ok "/$file reads back identical"
done
printf '    $ isoinfo -R -i cd.iso -x /readme.txt\n'
isoinfo -R -i cd.iso -x /readme.txt | sed 's/^/    | /'

step "Mac side: mounting the HFS partition (hfsutils)"
show hmount cd.iso 1
mounted=1
show hls -lR
for pair in ReadMe.txt::ReadMe.txt Notes.txt::Documents:Notes.txt List.txt::Documents:List.txt; do
  file=${pair%%::*} path=${pair#*::}
  hcopy -r ":$path" - | cmp -s - "mac-files/$file" || fail "Mac side: :$path differs"
  ok ":$path reads back identical"
done
printf '    $ hcopy -r :Documents:List.txt -\n'
hcopy -r :Documents:List.txt - | sed 's/^/    | /'
show humount
mounted=0

step "Running the job again: a hybrid image is refused and left as it is"
sum_before=$(sha256sum <cd.iso)
set +e
show "$cli" --from-file hfs.img --to-iso cd.iso >again.out 2>again.err
status=$?
set -e
sed 's/^/    stderr: /' again.err
((status == 1)) || fail "a second run exited with $status, expected 1"
[[ $(sha256sum <cd.iso) == "$sum_before" ]] || fail "the refused run changed cd.iso"
ok "exit status 1, cd.iso unchanged"

step "Device side: the hybrid as a CD-ROM on the simulated SCSI bus"
show "$cli" --attach cdrom:0:4=cd.iso --list-devices cdrom | sed 's/^/    | /'
set +e
show "$cli" --attach cdrom:0:4=cd.iso --from-drive C040 --to-hfs-image copy.img >copy.out 2>copy.err
status=$?
set -e
sed 's/^/    stderr: /' copy.err
((status == 0)) || fail "copying the CD-ROM's volume exited with $status"
# One HFS partition: the whole volume is copied, map included, so the copy is
# the hybrid's first blocks as far as its Driver Descriptor counts them.
cmp -s -n "$(stat -c %s copy.img)" copy.img cd.iso || fail "copy.img is not the CD-ROM's volume"
[[ $(stat -c %s copy.img) == "$hybrid_bytes" ]] || fail "copy.img is not the whole volume"
ok "copy.img holds the CD-ROM's whole volume, byte for byte"
show hmount copy.img 1 >/dev/null
mounted=1
hcopy -r :Documents:Notes.txt - | cmp -s - mac-files/Notes.txt || fail "copy.img: Notes.txt differs"
ok ":Documents:Notes.txt reads back identical from copy.img"
humount >/dev/null
mounted=0

printf '\nDEMO PASSED: %s is readable as an ISO 9660 volume and as an HFS volume.\n' "$demo_dir/cd.iso"
