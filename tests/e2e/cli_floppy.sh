#!/usr/bin/env bash
# A floppy disk copied into an HFS image through the imaging tool (our own
# stand-in, reading a real floppy image instead of the drive), then taken by
# the file job.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

FLOPPY=$FIXTURES/format-corpus-JW_disk9_hfstest_9.img
[[ -f $FLOPPY ]] || { echo "fixture missing: $FLOPPY" >&2; exit 1; }
BLOCKS=$(($(size_of "$FLOPPY") / 512))

export ZELVORANT_FLOPPY_IMAGE=$FLOPPY
run_cli 0 --from-drive b: --to-hfs-image floppy.img
expect_completed
[[ $(size_of floppy.img) == $(((BLOCKS + 64) * 512)) ]] || fail "floppy.img size"
expect_partx floppy.img 2 "64 $BLOCKS Apple_HFS MacOS"
same_bytes "$FLOPPY" 0 floppy.img 32768 "$(size_of "$FLOPPY")"
hmount "$FLOPPY" >/dev/null && hls -1aR >original.lst && humount
hmount floppy.img 1 >/dev/null && hls -1aR >copied.lst && humount
cmp -s original.lst copied.lst || fail "the copied floppy's files differ"
[[ -z $(find . -maxdepth 1 -name 'zelvora*') ]] || fail "a temporary file was left behind"

sample_iso plain.iso 3000
run_cli 0 --from-file floppy.img --to-iso plain.iso
check_iso_files plain.iso iso

# A tool that cannot read the drive: a clear message, status 1, no image.
export ZELVORANT_FLOPPY_IMAGE=$WORK/no-such-floppy.img
run_cli 1 --from-drive A: --to-hfs-image failed.img
expect_err "The floppy imaging tool ended with an error"
[[ ! -s failed.img ]] || fail "failed.img is not empty"
run_cli 1 --from-drive E: --to-hfs-image failed.img
expect_err "There is no floppy drive E:."

# The tool is looked for next to the program, in the installation's tools
# folder, then on PATH: a dskgrab in the folder the user stands in never
# runs, nor through an empty member of PATH. (Windows looks in the current
# folder as its own search does.)
if ! on_wine; then
  mkdir alone here tools
  cp "$CLI" alone/zelvorant-cli
  printf '#!/bin/sh\ntouch "%s/planted-ran"\n' "$WORK" >here/dskgrab
  chmod +x here/dskgrab
  export ZELVORANT_FLOPPY_IMAGE=$FLOPPY
  rc=0
  (cd here && PATH=":$WORK/tools:" exec "$WORK/alone/zelvorant-cli" --from-drive A: \
    --to-hfs-image "$WORK/planted.img") </dev/null >out.txt 2>err.txt || rc=$?
  [[ $rc == 1 ]] || fail "exit $rc, expected 1 with a dskgrab in the current folder only"
  expect_err "${TEXT[floppy_tool_not_started]%REASON}"
  [[ ! -e planted-ran ]] || fail "the dskgrab of the current folder ran"
  [[ ! -s planted.img ]] || fail "planted.img is not empty"
  # On PATH, it is found.
  ln -s "$(dirname "$CLI")/dskgrab" tools/dskgrab
  CLI=$WORK/alone/zelvorant-cli PATH="$WORK/tools:$PATH" \
    run_cli 0 --from-drive A: --to-hfs-image "$WORK/found.img"
  same_bytes "$FLOPPY" 0 found.img 32768 "$(size_of "$FLOPPY")"
fi
echo "floppy: ok"
