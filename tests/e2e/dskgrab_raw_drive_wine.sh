#!/usr/bin/env bash
# dskgrab.exe reading the drive itself (\\.\B:) under Wine: Wine opens the
# raw device of drive B: through the link "b::" in the prefix's dosdevices,
# which this script points at images for the time of the test and then puts
# back as it was. (Drive letters come from the "b:" link, which stays alone.)
# Usage: dskgrab_raw_drive_wine.sh WINE DSKGRAB.EXE FIXTURES
set -euo pipefail
wine=$1 dskgrab=$(realpath "$2") fixtures=$(realpath "$3")
: "${WINEPREFIX:?the Wine prefix to use}"
work=$(mktemp -d)
device="$WINEPREFIX/dosdevices/b::"
previous=$(readlink "$device" || true)
restore() {
  rm -f "$device"
  [[ -z $previous ]] || ln -s "$previous" "$device"
  rm -rf "$work"
}
trap restore EXIT
cd "$work"
unset ZELVORANT_FLOPPY_IMAGE

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
grab() { "$wine" "$dskgrab" /B: "/F$1" /O512 /P80 /S18 /T2 "${@:2}" 2>err.txt; }

# No disk in the drive: an error, and no file.
ln -sfn "$work/no-disk.img" "$device"
if grab none.img; then fail "no drive, yet dskgrab succeeded"; fi
[[ -e none.img ]] && fail "a file was left for a drive that could not be read"
grep -q 'cannot open \\\\.\\B:' err.txt || fail "message: $(cat err.txt)"

# A whole 1.44 MB floppy, byte for byte.
floppy=$fixtures/format-corpus-JW_disk9_hfstest_9.img
ln -sfn "$floppy" "$device"
grab floppy.img || fail "floppy: $(cat err.txt)"
cmp -s floppy.img "$floppy" || fail "the copy of the floppy differs"

# A disk that ends inside a sector: the whole sectors are read, and the part
# sector up to the end of the disk.
head -c $((3 * 512 + 100)) /dev/urandom >short.img
ln -sfn "$work/short.img" "$device"
grab copy.img || fail "short disk: $(cat err.txt)"
cmp -s copy.img short.img || fail "the copy of the short disk differs"

echo "dskgrab raw drive: ok"
