# shellcheck shell=bash
# Helpers for the end-to-end scripts: sourced after `set -euo pipefail`.
# Every script is run as `bash SCRIPT CLI FIXTURES`.

CLI=$(realpath "${1:?usage: SCRIPT path/to/zelvorant-cli path/to/fixtures}")
# shellcheck disable=SC2034  # read by the scripts
FIXTURES=$(realpath -m "${2:-.}")
# The program's own texts, ${TEXT[name]}, from its catalogue (printed by
# catalogue_texts.cpp): what it prints is checked against them, not against
# copies. ctest names the printer in ZELVORANT_E2E_TEXTS; by hand it is found
# in the CLI's build. Without one a script stops at the first text it needs.
declare -A TEXT=()
texts=${ZELVORANT_E2E_TEXTS:-}
for guess in "$(dirname "$CLI")/tests/e2e/e2e_texts" "$(dirname "$CLI")/e2e-texts-wine"; do
  [[ -n $texts || ! -x $guess ]] || texts=$guess
done
if [[ -n $texts ]]; then
  texts=$("$texts" | tr -d '\r') || { echo "$texts failed" >&2; exit 1; }
  eval "$texts"
fi
WORK=$(mktemp -d)
# hfsutils keep the mounted volume in $HOME/.hcwd: one per script, so that
# tests run in parallel do not unmount each other's volumes.
export HOME=$WORK
trap 'humount >/dev/null 2>&1 || true; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
# The Linux build puts the machine's SCSI hosts before the simulated bus; an
# empty sysfs keeps --attach's adapters where the scripts expect them on any
# machine. Scripts that want the real devices unset it.
mkdir -p "$WORK/no-sysfs"
export ZELVORANT_SYSFS=$WORK/no-sysfs

fail() {
  echo "FAIL: $*" >&2
  [[ -f $WORK/err.txt ]] && sed 's/^/  stderr: /' "$WORK/err.txt" >&2
  exit 1
}

size_of() { stat -c %s "$1"; }

# Big-endian 32-bit number at byte OFFSET of FILE.
be32() { od -An -tx1 -j "$2" -N 4 "$1" | tr -d ' \n' | { read -r hex; echo $((16#$hex)); }; }

random_file() {  # PATH BYTES
  mkdir -p "$(dirname "$1")"
  head -c "$2" /dev/urandom >"$1"
}

# A bare HFS volume of KB kilobytes named LABEL.
new_volume() {  # FILE KB LABEL
  truncate -s "$(($2 * 1024))" "$1"
  hformat -l "$3" "$1" >/dev/null
}

# An Apple-partitioned HFS image of TOTAL 512-byte blocks: block 0 is the
# Driver Descriptor, block 1 the map's own entry (blocks 1-63), then one entry
# per TYPE:NAME:FIRST:COUNT argument. The Apple_HFS partitions are formatted
# with hformat, labelled with their entry names.
new_partitioned() {  # FILE TOTAL TYPE:NAME:FIRST:COUNT...
  local file=$1 total=$2
  shift 2
  truncate -s "$((total * 512))" "$file"
  python3 - "$file" "$total" "$@" <<'EOF'
import struct, sys
path, total = sys.argv[1], int(sys.argv[2])
entries = [("Apple_partition_map", "Apple", 1, 63)]
entries += [(t, n, int(f), int(c)) for t, n, f, c in (a.split(":") for a in sys.argv[3:])]
with open(path, "r+b") as out:
    out.write(struct.pack(">2sHI", b"ER", 512, total).ljust(512, b"\0"))
    for kind, name, first, count in entries:
        entry = struct.pack(">2sHIII32s32sIII", b"PM", 0, len(entries), first, count,
                            name.encode(), kind.encode(), 0, count,
                            0x33 if kind == "Apple_HFS" else 0x3)
        out.write(entry.ljust(512, b"\0"))
EOF
  local arg kind name n=0
  for arg in "$@"; do
    IFS=: read -r kind name _ <<<"$arg"
    [[ $kind == Apple_HFS ]] || continue
    n=$((n + 1))
    hformat -l "$name" "$file" "$n" >/dev/null
  done
}

# Copies the files under host directory DIR (one level of folders) into
# partition PART (0: a bare volume) of IMAGE.
fill_volume() {  # IMAGE PART DIR
  hmount "$1" "$2" >/dev/null
  local path
  while IFS= read -r path; do hmkdir ":${path//\//:}"; done \
    < <(cd "$3" && find . -mindepth 1 -type d | sed 's|^\./||')
  while IFS= read -r path; do hcopy -r "$3/$path" ":${path//\//:}"; done \
    < <(cd "$3" && find . -type f | sed 's|^\./||')
  humount
}

# Copies every file of the mounted volume's folder HFSDIR (":" for the root)
# into host directory DIR, data forks raw, recursively.
dump_folder() {  # HFSDIR DIR
  local name
  mkdir -p "$2"
  while IFS= read -r name; do
    if [[ $name == *: ]]; then
      dump_folder "$1$name" "$2/${name%:}"
    else
      hcopy -r "$1${name%\*}" "$2/${name%\*}"  # -F marks applications with '*'
    fi
  done < <(hls -1aNF "$1")
}

# Mounts partition PART of IMAGE and copies out all of its files into DIR;
# the volume's long listing goes to DIR.lst.
dump_volume() {  # IMAGE PART DIR
  hmount "$1" "$2" >/dev/null || fail "hmount $1 $2"
  hls -alR >"$3.lst"
  dump_folder : "$3"
  humount
}

volume_name() {  # IMAGE PART
  hmount "$1" "$2" | sed -n 's/^Volume name is "\(.*\)".*/\1/p'
  humount
}

# An ISO 9660 image of the files in DIR (8.3 names, no extensions needed).
new_iso() {  # ISO DIR
  genisoimage -quiet -o "$1" "$2"
}

# Every file of DIR comes back out of IMAGE's ISO 9660 volume byte for byte.
check_iso_files() {  # IMAGE DIR
  local path name iso_name
  for path in "$2"/*; do
    name=${path##*/} iso_name=${path##*/}
    [[ $name == *.* ]] || iso_name=$name.
    isoinfo -i "$1" -x "/$iso_name;1" >"$WORK/extracted"
    cmp -s "$WORK/extracted" "$2/$name" || fail "ISO file $name differs in $1"
  done
}

# START SECTORS TYPE NAME of partition NR in IMAGE's map, as partx reads it.
partx_row() {  # IMAGE NR
  partx --show -g -o START,SECTORS,TYPE,NAME -n "$2" "$1" | tr -s ' ' | sed 's/^ //; s/ $//'
}

expect_partx() {  # IMAGE NR "START SECTORS TYPE NAME"
  local row
  row=$(partx_row "$1" "$2")
  [[ $row == "$3" ]] || fail "partx row $2 of $1: '$row', expected '$3'"
}

# COUNT bytes at OFFSET1 of FILE1 equal those at OFFSET2 of FILE2.
same_bytes() {  # FILE1 OFFSET1 FILE2 OFFSET2 COUNT
  cmp -s -i "$2:$4" -n "$5" "$1" "$3" || fail "bytes of $3 at $4 differ from $1 at $2"
}

# Runs the CLI with no terminal: stdout to out.txt, stderr to err.txt.
# Fails unless it exits with RC.
run_cli() {  # RC ARGS...
  local want=$1 rc=0
  shift
  "$CLI" "$@" </dev/null >"$WORK/out.txt" 2>"$WORK/err.txt" || rc=$?
  [[ $rc == "$want" ]] || fail "exit $rc, expected $want: zelvorant-cli $*"
}

expect_err() {  # TEXT (of one line or more)
  [[ $(<"$WORK/err.txt") == *"$1"* ]] || fail "stderr lacks: $1"
}

expect_completed() {
  [[ $(<"$WORK/out.txt") == *"${TEXT[completed]}"* ]] || fail "no completion message"
}

# The job on ISO must be refused with exit 1 and message TEXT, and leave the
# ISO byte-identical.
expect_refused() {  # ISO TEXT ARGS...
  local iso=$1 text=$2
  shift 2
  cp "$iso" "$WORK/iso.before"
  run_cli 1 "$@"
  expect_err "$text"
  cmp -s "$iso" "$WORK/iso.before" || fail "ISO changed by: zelvorant-cli $*"
  [[ ! -s $WORK/out.txt ]] || fail "output on stdout by: zelvorant-cli $*"
}
