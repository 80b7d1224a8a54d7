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

# A bare HFS volume of MIB MiB whose bytes past its first 64 KiB are 0xFF:
# a job copies every one of them (it steps over zeros past the end of what
# it writes, and over holes), so it runs long enough to be caught midway.
busy_volume() {  # FILE MIB
  {
    head -c 65536 /dev/zero
    head -c $((($2 << 20) - 65536)) /dev/zero | tr '\0' '\377'
  } >"$1"
  printf BD | dd of="$1" bs=1 seek=1024 conv=notrunc status=none
}

# A bare HFS volume of KB kilobytes named LABEL.
new_volume() {  # FILE KB LABEL
  truncate -s "$(($2 * 1024))" "$1"
  hformat -l "$3" "$1" >/dev/null
}

# True when the CLI is zelvorant-cli.exe run through Wine.
on_wine() { [[ $CLI == *-wine ]]; }

# Sets RUN_AS to the words that run a program as a user who is not root:
# none when we are not root, else setpriv as nobody (uid 65534). False when
# there is no such user to be: Wine will not run in a prefix another user
# owns.
as_not_root() {
  RUN_AS=()
  [[ $(id -u) == 0 ]] || return 0
  if on_wine || ! command -v setpriv >/dev/null; then return 1; fi
  # shellcheck disable=SC2034  # read by the scripts
  RUN_AS=(setpriv --reuid=65534 --regid=65534 --clear-groups)
}

# Records the sums of the fixtures FILE... that a script reads; fails when
# one is missing. expect_fixtures_kept then checks that none was changed.
keep_fixtures() {  # FILE...
  sha256sum "$@" >"$WORK/fixtures.sum" || fail "fixtures missing in $FIXTURES"
}

expect_fixtures_kept() {
  sha256sum --quiet -c "$WORK/fixtures.sum" || fail "a fixture was changed"
}

# Writes an Apple partition map into FILE: block 0 a Driver Descriptor of
# BLOCKS 512-byte blocks, then one entry per block from block 1 on, each
# counting all of them. An ENTRY is TYPE:NAME:FIRST:COUNT[:STATUS]; the
# status is 0x33 (valid, allocated, in use, readable) unless given.
write_map() {  # FILE BLOCKS ENTRY...
  local file=$1 blocks=$2
  shift 2
  python3 - "$file" "$blocks" "$@" <<'EOF'
import struct, sys
path, total = sys.argv[1], int(sys.argv[2])
entries = [a.split(":") for a in sys.argv[3:]]
with open(path, "r+b") as out:
    out.write(struct.pack(">2sHI", b"ER", 512, total).ljust(512, b"\0"))
    for kind, name, first, count, *status in entries:
        entry = struct.pack(">2sHIII32s32sIII", b"PM", 0, len(entries), int(first), int(count),
                            name.encode(), kind.encode(), 0, int(count),
                            int(status[0], 0) if status else 0x33)
        out.write(entry.ljust(512, b"\0"))
EOF
}

# A file of TOTAL 512-byte blocks, zeros but for the map of exactly the
# entries given (see write_map).
new_map() {  # FILE TOTAL ENTRY...
  truncate -s "$(($2 * 512))" "$1"
  write_map "$@"
}

# hformat each Apple_HFS partition of FILE, in map order, with its NAME.
format_partitions() {  # FILE NAME...
  local file=$1 n=0 name
  shift
  for name in "$@"; do
    n=$((n + 1))
    hformat -l "$name" "$file" "$n" >/dev/null || fail "hformat $file $n"
  done
}

# An Apple-partitioned HFS image of TOTAL 512-byte blocks: block 0 is the
# Driver Descriptor, block 1 the map's own entry (blocks 1-63), then one entry
# per TYPE:NAME:FIRST:COUNT argument. The Apple_HFS partitions are formatted
# with hformat, labelled with their entry names; the other entries are
# valid and allocated only (status 0x3).
new_partitioned() {  # FILE TOTAL TYPE:NAME:FIRST:COUNT...
  local file=$1 total=$2 entries=(Apple_partition_map:Apple:1:63:0x3) names=() arg name
  shift 2
  for arg in "$@"; do
    if [[ $arg == Apple_HFS:* ]]; then
      entries+=("$arg")
      IFS=: read -r _ name _ <<<"$arg"
      names+=("$name")
    else
      entries+=("$arg:0x3")
    fi
  done
  new_map "$file" "$total" "${entries[@]}"
  format_partitions "$file" "${names[@]}"
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

# Partition PART of IMAGE (0: a bare volume) holds exactly the files of
# host directory DIR; they are dumped into dump/, the listing into dump.lst.
expect_volume_files() {  # IMAGE PART DIR
  rm -rf dump dump.lst
  dump_volume "$1" "$2" dump
  diff -r "$3" dump >/dev/null || fail "files of partition $2 of $1 differ from $3"
}

volume_name() {  # IMAGE PART
  hmount "$1" "$2" | sed -n 's/^Volume name is "\(.*\)".*/\1/p'
  humount
}

# An ISO 9660 image of the files in DIR (8.3 names, no extensions needed).
new_iso() {  # ISO DIR
  genisoimage -quiet -o "$1" "$2"
}

# The ISO image most scripts make hybrid: folder iso/ gets a README of
# README_BYTES random bytes and a DATA.BIN of DATA_BYTES (none if not
# given) beside what it holds already, and becomes ISO. ISO_BYTES and
# ISO_BLOCKS give the image's length in bytes and in 512-byte blocks.
sample_iso() {  # ISO README_BYTES [DATA_BYTES]
  random_file iso/README "$2"
  [[ -z ${3:-} ]] || random_file iso/DATA.BIN "$3"
  new_iso "$1" iso
  ISO_BYTES=$(size_of "$1")
  # shellcheck disable=SC2034  # read by the scripts
  ISO_BLOCKS=$((ISO_BYTES / 512))
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

# A completion line of KIND (completed_hybrid, completed_hfs_image,
# completed_undo) as a pattern: any path, number and volume names.
completion_pattern() {  # KIND
  local pattern=${TEXT[$1]%%;*}
  pattern=${pattern//@/*}
  echo "${pattern//0/*}*"
}

# The one line on stdout tells the job's completion; with KIND, of that kind.
expect_completed() {  # [KIND]
  local out kind
  out=$(<"$WORK/out.txt")
  for kind in ${1:-completed_hybrid completed_hfs_image completed_undo}; do
    # shellcheck disable=SC2053  # a pattern on purpose
    [[ $out != *$'\n'* && $out == $(completion_pattern "$kind") ]] && return 0
  done
  fail "no completion message: $out"
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
