#!/usr/bin/env bash
# SIGKILL at random points of the file job (while it removes bytes after the
# ISO 9660 volume), of --undo and of an extraction. After every kill:
#   - no map points at data that is not there;
#   - nothing is lost: the bytes the job removes are in the image or in the
#     named file beside it, an HFS image target is its old or its new self;
#   - the next run recognises what the kill left and finishes;
#   - nothing is left behind in the folder once it has.
# ZELVORANT_KILL_POINTS (default 50) kills of each kind.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

points=${ZELVORANT_KILL_POINTS:-50}

sample_iso plain.iso 3000 400000
random_file vol/Big 2500000
random_file vol/Small 5000
new_volume vol.img 4096 Killed
fill_volume vol.img 0 vol
random_file tail.bin 1000000
new_partitioned disk.img $((64 + 8192)) Apple_HFS:Disk:64:8192
fill_volume disk.img 1 vol
new_volume old.img 2048 Old

# The map, if the image has one, points only at data that is there, and an
# Apple_HFS entry's blocks are the volume's.
expect_sound_map() {  # IMAGE
  python3 - "$1" vol.img <<'EOF' || fail "$1: a map points at missing or wrong data"
import struct, sys
image = open(sys.argv[1], 'rb').read()
volume = open(sys.argv[2], 'rb').read()
if image[0:2] != b'ER':
    sys.exit(0)
entry = lambda n: image[n * 512:(n + 1) * 512]
count = struct.unpack('>I', entry(1)[4:8])[0] if entry(1)[0:2] == b'PM' else 0
for n in range(1, 1 + count):
    block = entry(n)
    if block[0:2] != b'PM':
        continue
    first, blocks = struct.unpack('>II', block[8:16])
    if (first + blocks) * 512 > len(image):
        sys.exit(1)
    if block[48:57] == b'Apple_HFS':
        if image[first * 512:(first + blocks) * 512] != volume[:blocks * 512]:
            sys.exit(1)
EOF
}

has_map() { cmp -s -n 2 "$1" <(printf ER); }

# The folder holds exactly the files it held before the kills.
expect_clean_folder() {  # WHAT
  local now
  now=$(ls -A)
  [[ $now == "$FOLDER" ]] || fail "$1: left behind: $(comm -13 <(echo "$FOLDER") <(echo "$now"))"
}

# Runs ARGS once to the end to time it; KILL_SPAN is a little more than it
# took, in microseconds.
time_run() {  # ARGS...
  local start=${EPOCHREALTIME/./}
  "$CLI" "$@" </dev/null >/dev/null 2>&1 || fail "untimed run failed: $*"
  KILL_SPAN=$(((${EPOCHREALTIME/./} - start) * 11 / 10 + 1))
}

# Starts ARGS and kills it with SIGKILL after a random share of KILL_SPAN
# (it may have ended by then).
kill_run() {  # ARGS...
  local delay=$(((RANDOM * 32768 + RANDOM) % KILL_SPAN)) pid
  "$CLI" "$@" </dev/null >out.txt 2>err.txt &
  pid=$!
  sleep "$(printf '%d.%06d' $((delay / 1000000)) $((delay % 1000000)))"
  kill -KILL "$pid" 2>/dev/null || true
  { wait "$pid"; } 2>/dev/null || true
}

: >out.txt
: >err.txt
FOLDER=$(ls -A)

# --- the job, while it keeps the bytes after the volume aside ----------------
cat plain.iso tail.bin >t.iso
time_run --from-file vol.img --to-iso t.iso --yes
for ((i = 0; i < points; i++)); do
  cat plain.iso tail.bin >t.iso
  kill_run --from-file vol.img --to-iso t.iso --yes
  expect_sound_map t.iso
  if ! has_map t.iso; then
    # Not yet a hybrid: the bytes are in the image or in the named file.
    kept=(t.iso.removed-*)
    if [[ -f ${kept[0]} && ${kept[0]} != *.incomplete ]]; then
      cmp -s "${kept[0]}" tail.bin || fail "job kill $i: the kept bytes differ"
    else
      same_bytes tail.bin 0 t.iso "$ISO_BYTES" "$(size_of tail.bin)"
    fi
    run_cli 0 --from-file vol.img --to-iso t.iso --yes
  fi
  run_cli 0 --undo t.iso --yes
  cmp -s t.iso plain.iso || fail "job kill $i: the job and --undo did not give back the ISO"
  rm t.iso
  expect_clean_folder "job kill $i"
done

# --- --undo --------------------------------------------------------------------
cp plain.iso h.iso
run_cli 0 --from-file vol.img --to-iso h.iso
cp h.iso u.iso
time_run --undo u.iso --yes
FOLDER=$(ls -A)
for ((i = 0; i < points; i++)); do
  cp h.iso u.iso
  kill_run --undo u.iso --yes
  expect_sound_map u.iso
  if ! cmp -s u.iso plain.iso; then
    if ((i % 4 == 3)) && ! has_map u.iso; then
      # The job takes what the kill left for bytes after the volume.
      run_cli 0 --from-file vol.img --to-iso u.iso --yes
    fi
    run_cli 0 --undo u.iso --yes
  fi
  cmp -s u.iso plain.iso || fail "undo kill $i: the next --undo did not give back the ISO"
  expect_clean_folder "undo kill $i"
done
rm h.iso u.iso

# --- extraction over an HFS image file -----------------------------------------
extract=(--attach disk:1:2=disk.img --from-drive A120 --to-hfs-image out.img --partition all)
cp old.img out.img
time_run "${extract[@]}"
FOLDER=$(ls -A)
for ((i = 0; i < points; i++)); do
  cp old.img out.img
  kill_run "${extract[@]}"
  cmp -s out.img old.img || cmp -s out.img disk.img ||
    fail "extraction kill $i: the target is neither its old nor its new self"
  run_cli 0 "${extract[@]}"
  cmp -s out.img disk.img || fail "extraction kill $i: the next run did not extract the disk"
  expect_clean_folder "extraction kill $i"
done

echo "PASS: $points kills each of the job, --undo and extraction"
