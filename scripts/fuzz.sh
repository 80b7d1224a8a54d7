#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan and UBSan and runs each
# for a fixed time, seeded from the sample images in tests/fixtures and
# from small Apple-partitioned images made here.
#
#   FUZZ_SECONDS   time per target (default 30)
#   FUZZ_TARGETS   targets to run (default: all five)
#   FUZZ_DIR       where corpora and crash artifacts go (default out/fuzz)
#   JOBS           targets run at once, one core each (default: the cores)
#   FUZZ_SEED      libFuzzer's seed (default 1). With a fixed seed and a fresh
#                  FUZZ_DIR the inputs come in the same order on every run, so
#                  a short run in CI repeats the start of a long run made here
#                  instead of gambling on new inputs.
#
# Exits non-zero when a target finds a crash or a broken invariant; the input
# is left in $FUZZ_DIR/artifacts.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
seconds=${FUZZ_SECONDS:-30}
seed=${FUZZ_SEED:-1}
targets=${FUZZ_TARGETS:-"fuzz_file_job fuzz_device_jobs fuzz_scan_devices fuzz_arguments fuzz_image_info"}
work=${FUZZ_DIR:-$repo/out/fuzz}
fixtures=$repo/tests/fixtures
# shellcheck source=scripts/ccache-env.sh
source scripts/ccache-env.sh

echo "fuzz: building the targets with clang in build-fuzz/ ..."
# Line tables only (-g1): a crash report still names every file and line,
# and the build takes a third less time than with full debug information.
# Only the targets are built: the programs of the build are not fuzzed.
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DZELVORANT_TESTS=OFF -DZELVORANT_SANITIZE=ON -DZELVORANT_FUZZ=ON >/dev/null
# shellcheck disable=SC2086 # one target per word
cmake --build build-fuzz -j"${JOBS:-$(nproc)}" --target $targets >/dev/null

seeds=$work/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{file,device,scan,arguments,info} "$work/artifacts"

# Maps like the ones users feed: one to three HFS partitions among other
# entries, counts that agree, counts that lie, entries past the end.
python3 - "$seeds" <<'PY'
import random, struct, sys
out = sys.argv[1]
rng = random.Random(1)  # the same seeds on every run
def image(entries, total, map_count=None):
    data = bytearray(rng.randbytes(total * 512))
    data[0:512] = struct.pack(">2sHI", b"ER", 512, total).ljust(512, b"\0")
    count = map_count if map_count is not None else len(entries)
    for i, (kind, first, blocks) in enumerate(entries):
        entry = struct.pack(">2sHIII32s32s", b"PM", 0, count, first, blocks, b"Part%d" % i, kind.encode())
        data[(i + 1) * 512:(i + 2) * 512] = entry.ljust(512, b"\0")
    return bytes(data)
cases = {
    "one": image([("Apple_partition_map", 1, 63), ("Apple_HFS", 64, 40)], 104),
    "two": image([("Apple_partition_map", 1, 63), ("Apple_HFS", 64, 20), ("Apple_Free", 84, 4), ("Apple_HFS", 88, 30)], 118),
    "three": image([("Apple_partition_map", 1, 63), ("Apple_HFS", 64, 9), ("Apple_HFS", 73, 10), ("Apple_HFS", 83, 7)], 90),
    "lying": image([("Apple_partition_map", 1, 63), ("Apple_HFS", 64, 4000)], 70, map_count=9999),
}
for name, data in cases.items():
    for answers in (0x03, 0x0b, 0x05):
        open(f"{out}/file/{name}-{answers}", "wb").write(bytes([answers, 3]) + data)
        for mode in range(4):
            open(f"{out}/device/{name}-{answers}-{mode}", "wb").write(bytes([mode, answers, 0]) + data)
    open(f"{out}/info/{name}", "wb").write(b"\0" + data)
args = [b"--from-file\0a.img\0--to-iso\0b.iso", b"--from-drive\0A030\0--to-hfs-image\0x\0--partition\0all",
        b"--attach\0disk:0:3=x.img\0--list-devices\0disk", b"--from-drive\0b:\0--to-iso\0y\0--yes"]
for i, a in enumerate(args):
    open(f"{out}/arguments/{i}", "wb").write(b"\0" + a)
for i in range(4):
    open(f"{out}/scan/{i}", "wb").write(bytes([i]) + rng.randbytes(256))
PY
for fixture in "$fixtures"/*; do
  [[ -f $fixture ]] || continue # the licence texts' folder
  name=$(basename "$fixture")
  case $name in
    *.md) continue ;;
    *) head -c 65536 "$fixture" >"$seeds/raw" ;;
  esac
  { printf '\003\003'; cat "$seeds/raw"; } >"$seeds/file/$name"
  { printf '\000\003\000'; cat "$seeds/raw"; } >"$seeds/device/disk-$name"
  { printf '\001\013\000'; cat "$seeds/raw"; } >"$seeds/device/cd-$name"
  { printf '\002\003\000'; cat "$seeds/raw"; } >"$seeds/device/extract-$name"
  { printf '\000'; cat "$seeds/raw"; } >"$seeds/info/$name"
done
# ISO images with Joliet, Rock Ridge, an El Torito record and an HFS side,
# cut to their first 64 KiB (the descriptors and the root directory).
if command -v genisoimage >/dev/null; then
  mkdir -p "$seeds/tree"
  echo boot >"$seeds/tree/boot.img"
  genisoimage -quiet -J -R -b boot.img -no-emul-boot -o "$seeds/iso" "$seeds/tree"
  { printf '\000'; head -c 65536 "$seeds/iso"; } >"$seeds/info/iso-joliet-rr-eltorito"
  genisoimage -quiet -hfs -o "$seeds/iso" "$seeds/tree" 2>/dev/null
  { printf '\000'; head -c 65536 "$seeds/iso"; } >"$seeds/info/iso-hfs"
  rm -rf "$seeds/tree" "$seeds/iso"
fi
rm -f "$seeds/raw"

seed_dir_of() {  # TARGET
  case $1 in
    fuzz_file_job) echo file ;;
    fuzz_device_jobs) echo device ;;
    fuzz_scan_devices) echo scan ;;
    fuzz_arguments) echo arguments ;;
    fuzz_image_info) echo info ;;
    *) return 1 ;;
  esac
}
for target in $targets; do
  seed_dir_of "$target" >/dev/null || { echo "fuzz: unknown target $target" >&2; exit 2; }
done

run_target() {  # TARGET
  local target=$1 corpus=$work/corpus/$1
  mkdir -p "$corpus"
  echo "fuzz: $target for $seconds s"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build-fuzz/fuzz/$target" -seed="$seed" -max_total_time="$seconds" -max_len=70000 -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-" \
    "$corpus" "$seeds/$(seed_dir_of "$target")" >"$work/$target.log" 2>&1; then
    echo "fuzz: $target FAILED; see $work/$target.log and $work/artifacts/" >&2
    tail -30 "$work/$target.log" >&2
    return 1
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$work/$target.log" | sed "s/^/  $target /"
}

# Each target runs on one core: as many at once as there are cores (JOBS).
# The order of a target's inputs comes from its seed, not from what runs
# beside it.
parallel=${JOBS:-$(nproc)}
status=0 running=0
for target in $targets; do
  if ((running >= parallel)); then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
