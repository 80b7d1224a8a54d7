#!/usr/bin/env bash
# zelvorant-folders: from two folders to a hybrid CD-ROM image. Installed as
# zelvorant-folders; in the source tree it is scripts/folders-to-hybrid.sh.
#
#   zelvorant-folders [OPTIONS] MACDIR PCDIR OUT.iso [ZELVORANT-CLI OPTIONS...]
#
# Makes an ISO 9660 image of PCDIR with Rock Ridge and Joliet names
# (genisoimage) and an empty HFS volume just large enough for the files of
# MACDIR (hfsutils), joins them with
#   zelvorant-cli --from-file HFS-VOLUME --to-iso OUT.iso [OPTIONS...]
# and then fills the volume in place, inside the hybrid, with hfsutils.
# zelvorant-macfile reads the Mac side first: names in Mac Roman, MacBinary,
# BinHex and AppleDouble files, the type map; it leaves lists that the
# hfsutils commands below take in batches (one hcopy for the plain files of
# a folder, one hattrib for each type and creator), since each command
# opens the volume anew. Every refusal comes before the hybrid is made.
# OUT.iso must not exist; it is made only when the job completes, so a
# refusal or a failure leaves no file behind.
set -euo pipefail
# Names are bytes here: lengths count bytes, and the HFS names are Mac Roman.
export LC_ALL=C

me=zelvorant-folders
usage() {
  echo "Usage: $me [OPTIONS] MACDIR PCDIR OUT.iso [ZELVORANT-CLI OPTIONS...]" >&2
  echo "Try '$me --help' for more information." >&2
  exit 2
}
die() {
  printf '%s: %s\n' "$me" "$*" >&2
  exit 1
}
help() {
  cat <<'HELP'
Usage: zelvorant-folders [OPTIONS] MACDIR PCDIR OUT.iso [ZELVORANT-CLI OPTIONS...]
Makes the hybrid CD-ROM image OUT.iso from two folders: an HFS volume of
MACDIR for the Mac, an ISO 9660 image of PCDIR (Rock Ridge and Joliet) for
the PC, joined by zelvorant-cli. MACDIR and PCDIR may be the same folder.
Options after OUT.iso go to zelvorant-cli.

  --hfs-name NAME      the HFS volume's name (at most 27 characters; default:
                       MACDIR's name, or $HFS_NAME)
  --iso-name NAME      the ISO volume's name (default: PCDIR's name, or
                       $ISO_NAME)
  --bless FOLDER       bless FOLDER of MACDIR (its System Folder) for a
                       bootable disc
  --map FILE           type and creator of plain files by extension, from FILE
                       in genisoimage's -map form, in place of the built-in map
  --keep-appledouble   keep ._NAME files and __MACOSX folders on the ISO side
  --help               print this help and exit
  --version            print the version and exit

On the Mac side, names are written in Mac Roman, at most 31 characters,
without ':' and unique without regard to case. Files keep both forks:
NAME.bin in MacBinary and NAME.hqx in BinHex become the Mac file NAME, and a
file with an AppleDouble ._NAME beside it, or in a __MACOSX folder from a
zip archive, gets its resource fork, type and creator. Other files take
their type and creator from the map; unknown kinds are ????/????.
On the ISO side, every file stays as it is; ._NAME files and __MACOSX
folders are left out unless --keep-appledouble is given.

Exit status: 0 when OUT.iso was made, 1 when it was not, 2 for a usage error.
HELP
  exit 0
}

# The programs it runs: zelvorant-cli and zelvorant-macfile next to this
# script (installed, or in the build folder), then the installed private
# one, then the source tree's build folder; zelvorant-cli last on PATH.
self_dir=$(dirname -- "$(realpath -- "${BASH_SOURCE[0]}")")
find_helper() {  # NAME ENVIRONMENT-VALUE FURTHER-PLACES...
  local name=$1 chosen=$2 place
  shift 2
  if [[ -n $chosen ]]; then
    printf '%s' "$chosen"
    return 0
  fi
  for place in "$self_dir" "$@" "$self_dir/../build"; do
    if [[ -x $place/$name ]]; then
      printf '%s' "$place/$name"
      return 0
    fi
  done
  return 1
}
macfile=$(find_helper zelvorant-macfile "${ZELVORANT_MACFILE:-}" "$self_dir/../libexec/zelvorant") ||
  macfile=

hfs_name=${HFS_NAME:-} iso_name=${ISO_NAME:-} bless='' map='' keep_appledouble=0
while (($#)) && [[ $1 == -* ]]; do
  option=$1 value=''
  case $option in
    --*=*) value=${option#*=} option=${option%%=*} ;;
  esac
  case $option in
    --hfs-name | --iso-name | --bless | --map)
      if [[ $1 != *=* ]]; then
        (($# >= 2)) || { echo "$me: $option needs a value" >&2 && usage; }
        value=$2
        shift
      fi
      case $option in
        --hfs-name) hfs_name=$value ;;
        --iso-name) iso_name=$value ;;
        --bless) bless=$value ;;
        --map) map=$value ;;
      esac
      ;;
    --keep-appledouble) keep_appledouble=1 ;;
    --help) help ;;
    --version)
      [[ -n $macfile ]] || die "zelvorant-macfile not found beside $0 (build it)."
      echo "$me (Zelvorant) $("$macfile" --version)"
      exit 0
      ;;
    --)
      shift
      break
      ;;
    *)
      echo "$me: unknown option $option" >&2
      usage
      ;;
  esac
  shift
done

(($# >= 3)) || usage
mac_dir=$1 pc_dir=$2 out=$3
shift 3
[[ -d $mac_dir ]] || die "$mac_dir is not a folder; nothing was made."
[[ -d $pc_dir ]] || die "$pc_dir is not a folder; nothing was made."
[[ ! -e $out && ! -L $out ]] || die "$out exists and was left as it is; give a new name."
out_dir=$(dirname -- "$out")
[[ -d $out_dir && -w $out_dir ]] || die "cannot write into the folder $out_dir; nothing was made."
[[ -z $map || -r $map ]] || die "--map $map: cannot read it; nothing was made."

for tool in hformat hmkdir hcopy hattrib humount genisoimage; do
  command -v "$tool" >/dev/null 2>&1 ||
    die "$tool not found (Debian packages hfsutils genisoimage); nothing was made."
done
cli=$(find_helper zelvorant-cli "${ZELVORANT_CLI:-}") || cli=$(command -v zelvorant-cli) ||
  die "zelvorant-cli not found (build it, or set ZELVORANT_CLI); nothing was made."
[[ -n $macfile ]] ||
  die "zelvorant-macfile not found beside $0 (build it, or set ZELVORANT_MACFILE); nothing was made."

# The volumes' names. A name given is refused when HFS cannot hold it; the
# folder's name is made to fit.
if [[ -n $hfs_name ]]; then
  problem=$("$macfile" name "$hfs_name" 2>&1 >/dev/null) ||
    die "the HFS volume name \"$hfs_name\" $problem; nothing was made."
  mac_volume=$("$macfile" name "$hfs_name")
  ((${#mac_volume} <= 27)) ||
    die "the HFS volume name \"$hfs_name\" is longer than 27 characters; nothing was made."
  [[ $mac_volume != *:* ]] ||
    die "the HFS volume name \"$hfs_name\" holds ':'; nothing was made."
else
  hfs_name=$(basename -- "$(cd "$mac_dir" && pwd)")
  mac_volume=$("$macfile" name "$hfs_name" 2>/dev/null) || mac_volume=Untitled
  mac_volume=${mac_volume//:/ }
  mac_volume=${mac_volume:0:27}
fi
iso_name=${iso_name:-$(basename -- "$(cd "$pc_dir" && pwd)")}
iso_name=${iso_name:0:32}

# Beside OUT.iso, so that the finished image is renamed, not copied, there.
work=$(mktemp -d "$out_dir/.$me.XXXXXX")
mounted=0 iso_pid=''
cleanup() {
  if ((mounted)); then humount >/dev/null 2>&1 || true; fi
  if [[ -n $iso_pid ]]; then
    kill "$iso_pid" 2>/dev/null || true
    wait "$iso_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# hfsutils keeps the current volume in ~/.hcwd: keep it out of the real home.
export HOME=$work

# The PC side is made meanwhile: the two read different files and write
# different places, and a machine has more than one core. A refusal of the
# Mac names stops it (see cleanup), and its image goes with the scratch
# folder.
hidden=()
((keep_appledouble)) || hidden=(-m '._*' -m __MACOSX)
genisoimage -quiet -r -J "${hidden[@]}" -V "$iso_name" -o "$work/pc.iso" "$pc_dir" \
  2>"$work/iso.err" &
iso_pid=$!

plan=$work/plan
mkdir "$plan"
plan_args=()
[[ -z $map ]] || plan_args+=(--map "$map")
[[ -z $bless ]] || plan_args+=(--bless "$bless")
status=0
"$macfile" plan "${plan_args[@]}" "$mac_dir" "$plan" 2>"$work/plan.err" || status=$?
if ((status == 1)); then
  printf '%s: these names of %s cannot be HFS names:\n' "$me" "$mac_dir" >&2
  sed 's/^/  /' "$work/plan.err" >&2
  die "rename them and try again; nothing was made."
elif ((status != 0)); then
  sed "s/^/$me: /" "$work/plan.err" >&2
  die "nothing was made."
fi
sed "s/^/$me: /" "$work/plan.err"

# The size: every file and folder rounded up to 4 KiB, plus room for the
# catalog, the extents tree and the bitmap. A volume that turns out too small
# is made again twice as large.
bytes=$(find "$mac_dir" -mindepth 1 \( -type f -printf '%s\n' -o -printf '4096\n' \) |
  awk '{ total += int(($1 + 4095) / 4096) * 4096 + 512 } END { printf "%d", total }')
size=$(((bytes + bytes / 8 + 1048576 + 511) / 512 * 512))
# The tests start from a size too small, to see a volume made again.
size=${ZELVORANT_TEST_HFS_BYTES:-$size}

# The Mac files are written once, straight into the hybrid: zelvorant-cli
# joins an empty volume to the ISO image (its free space costs no writes, as
# the copy steps over zeros past the image's end), then hfsutils fills it in
# place as partition 1 of the hybrid. Writing the volume first and copying
# it in after took three times as long as genisoimage -hfs.
make_empty_volume() {  # SIZE
  rm -f "$work/mac.hfs"
  truncate -s "$1" "$work/mac.hfs"
  hformat -l "$mac_volume" "$work/mac.hfs" 0 >/dev/null ||
    die "hformat could not make an HFS volume of $1 bytes; nothing was made."
}
join_empty_volume() {
  local status=0
  "$cli" --from-file "$work/mac.hfs" --to-iso "$work/pc.iso" "${cli_options[@]}" || status=$?
  rm -f "$work/mac.hfs"
  ((status == 0)) || die "zelvorant-cli ended with status $status; $out was not made."
}
fill_volume() {
  local syncs=()
  hmount "$work/pc.iso" 1 >/dev/null || return 1
  mounted=1
  xargs -0 -r hmkdir <"$plan/folders" || return 1
  local staged target mode code list
  # xargs puts the files after the words it is given; sh puts the folder last.
  # shellcheck disable=SC2016
  # A folder's files: links named as on the Mac side, and in FOLDER.list
  # the files whose names need no change.
  while IFS= read -r -d '' staged && IFS= read -r -d '' target; do
    {
      find "$staged" -mindepth 1 -maxdepth 1 -print0
      [[ ! -e $staged.list ]] || cat -- "$staged.list"
    } | xargs -0 -r sh -c 'exec hcopy -r "$@" "$0"' "$target" || return 1
    # What is copied goes to the disk while the next folder is copied: the
    # sync at the end then has little left to wait for.
    sync -- "$work/pc.iso" 2>/dev/null &
    syncs+=($!)
  done <"$plan/raw"
  while IFS= read -r -d '' mode && IFS= read -r -d '' staged && IFS= read -r -d '' target; do
    hcopy "-$mode" "$staged" "$target" || return 1
  done <"$plan/single"
  for list in "$plan"/types.*; do
    [[ -e $list ]] || continue
    {
      IFS= read -r -d '' code
      xargs -0 -r hattrib -t "${code:0:4}" -c "${code:4:4}"
    } <"$list" || return 1
  done
  if IFS= read -r -d '' target <"$plan/bless"; then
    hattrib -b "$target" || return 1
  fi
  humount >/dev/null
  mounted=0
  wait "${syncs[@]}" 2>/dev/null || true
}

cli_options=("$@")
dry_run=0
for option in "$@"; do
  [[ $option != --dry-run ]] || dry_run=1
done
make_empty_volume "$size"
# What genisoimage has written so far goes to the disk while it writes the
# rest; the job's sync then has less to wait for.
sync -- "$work/pc.iso" 2>/dev/null &
status=0
wait "$iso_pid" || status=$?
iso_pid=''
if ((status != 0)); then
  cat "$work/iso.err" >&2
  die "genisoimage could not make the ISO image of $pc_dir; nothing was made."
fi
echo "$me: ISO 9660 volume \"$iso_name\" (Rock Ridge and Joliet), from $pc_dir"

join_empty_volume
if ((dry_run)); then
  echo "$me: a dry run; nothing was made."
  exit 0
fi
tries=0
until fill_volume 2>"$work/hfs.err"; do
  if ((mounted)); then humount >/dev/null 2>&1 || true; fi
  mounted=0
  tries=$((tries + 1))
  if ((tries >= 4)) || ! grep -qi 'full\|space' "$work/hfs.err"; then
    cat "$work/hfs.err" >&2
    die "could not fill the HFS volume of $mac_dir; nothing was made."
  fi
  # Too small: the image goes back to the plain ISO image, and a volume
  # twice as large takes the place of the first.
  status=0
  "$cli" --undo "$work/pc.iso" --yes >/dev/null 2>"$work/undo.err" || status=$?
  if ((status != 0)); then
    cat "$work/undo.err" >&2
    die "zelvorant-cli --undo ended with status $status; nothing was made."
  fi
  size=$((size * 2))
  make_empty_volume "$size"
  join_empty_volume
done
echo "$me: HFS volume \"$hfs_name\", $size bytes, from $mac_dir"

# OUT.iso appears only once the hybrid is complete and on the disk.
sync -- "$work/pc.iso" ||
  die "could not write the hybrid to the disk; $out was not made."
mv -n -- "$work/pc.iso" "$out"
[[ -f $out && ! -e $work/pc.iso ]] || die "could not move the hybrid to $out; it was not made."
sync -- "$out_dir" 2>/dev/null || true
echo "$me: wrote $out (hmount $out 1 for the Mac side, isoinfo -R -l -i $out for the PC side)"
