#!/usr/bin/env bash
# run_export_caller.sh WINE EXPORT_CALLER_EXE ZELVORANT_EXE TEST_WNASPI32_DLL
# Another program loads zelvorant.exe and calls its exports: the first call
# must install the ASPI manager that start-up would, here the test
# WNASPI32.DLL over a disk and a CD-ROM image. The caller, the program and
# the library sit in one folder, where Windows looks for the library first.
set -euo pipefail
wine=$1 caller=$2 program=$3 library=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$caller" "$work/export_caller.exe"
cp "$program" "$work/zelvorant.exe"
cp "$library" "$work/wnaspi32.dll"
for image in disk cd; do
  truncate -s 1M "$work/$image.img"
  printf 'ER' | dd of="$work/$image.img" conv=notrunc status=none
done

export WINEDEBUG=-all
# Ours, not Wine's own WNASPI32.DLL.
export WINEDLLOVERRIDES=wnaspi32=n
export ZELVORANT_TEST_DEVICES="disk:0:3=Z:${work//\//\\}\\disk.img;cdrom:0:5=Z:${work//\//\\}\\cd.img"
cd "$work"
"$wine" export_caller.exe "Z:${work//\//\\}\\zelvorant.exe"
