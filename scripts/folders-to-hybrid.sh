#!/usr/bin/env bash
# From two folders to a hybrid CD-ROM image:
#
#   folders-to-hybrid.sh MACDIR PCDIR OUT.iso [ZELVORANT-CLI OPTIONS...]
#
# Makes an HFS volume just large enough for the files of MACDIR (hfsutils:
# hformat, hmkdir, hcopy), an ISO 9660 image of PCDIR with Rock Ridge and
# Joliet names (genisoimage), and then runs
#   zelvorant-cli --from-file HFS-VOLUME --to-iso OUT.iso [OPTIONS...]
# The HFS volume is named after MACDIR, the ISO volume after PCDIR
# (HFS_NAME and ISO_NAME change them). Only the data of the Mac files are
# copied (hcopy -r): type, creator and resource forks are not.
#
# HFS names are at most 31 bytes, cannot hold ':' and are compared without
# case: such names are listed and refused before anything is made. OUT.iso
# must not exist; it is made only when the job completes, so a refusal or a
# failure leaves no file behind.
#
# zelvorant-cli: $ZELVORANT_CLI, else build/zelvorant-cli of this tree, else
# the installed command.
set -euo pipefail
# Names are bytes here: lengths count bytes, case is ASCII case.
export LC_ALL=C

me=folders-to-hybrid
usage() {
  echo "Usage: $me MACDIR PCDIR OUT.iso [ZELVORANT-CLI OPTIONS...]" >&2
  exit 2
}
die() {
  printf '%s: %s\n' "$me" "$*" >&2
  exit 1
}

(($# >= 3)) || usage
mac_dir=$1 pc_dir=$2 out=$3
shift 3
[[ -d $mac_dir ]] || die "$mac_dir is not a folder; nothing was made."
[[ -d $pc_dir ]] || die "$pc_dir is not a folder; nothing was made."
[[ ! -e $out && ! -L $out ]] || die "$out exists and was left as it is; give a new name."
out_dir=$(dirname -- "$out")
[[ -d $out_dir && -w $out_dir ]] || die "cannot write into the folder $out_dir; nothing was made."

for tool in hformat hmkdir hcopy humount genisoimage; do
  command -v "$tool" >/dev/null 2>&1 ||
    die "$tool not found (Debian packages hfsutils genisoimage); nothing was made."
done
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${ZELVORANT_CLI:-}
if [[ -z $cli ]]; then
  if [[ -x $repo/build/zelvorant-cli ]]; then
    cli=$repo/build/zelvorant-cli
  else
    cli=$(command -v zelvorant-cli) || die "zelvorant-cli not found (build it, or set ZELVORANT_CLI); nothing was made."
  fi
fi

# Every name on the Mac side is checked before anything is made. The names
# of one folder are compared in lower case, as the Mac compares them.
problems=()
while IFS= read -r -d '' path; do
  name=${path##*/}
  if ((${#name} > 31)); then
    problems+=("longer than 31 bytes: ${path#"$mac_dir"/}")
  fi
  [[ $name != *:* ]] || problems+=("holds ':', the HFS path separator: ${path#"$mac_dir"/}")
  if [[ -L $path && -d $path ]]; then
    problems+=("a link to a folder: ${path#"$mac_dir"/}")
  elif [[ ! -f $path && ! -d $path ]]; then
    problems+=("neither a file nor a folder: ${path#"$mac_dir"/}")
  fi
done < <(find "$mac_dir" -mindepth 1 -print0)
while IFS= read -r clash; do
  problems+=("two names that differ only in case: $clash")
done < <(find "$mac_dir" -mindepth 1 -printf '%h/%f\n' | awk -F/ '{
    key = tolower($0); if (key in seen) print seen[key] " and " $0; else seen[key] = $0 }')
if ((${#problems[@]})); then
  printf '%s: these names of %s cannot be HFS names:\n' "$me" "$mac_dir" >&2
  printf '  %s\n' "${problems[@]}" >&2
  die "rename them and try again; nothing was made."
fi

# Beside OUT.iso, so that the finished image is renamed, not copied, there.
work=$(mktemp -d "$out_dir/.$me.XXXXXX")
mounted=0
cleanup() {
  if ((mounted)); then humount >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# hfsutils keeps the current volume in ~/.hcwd: keep it out of the real home.
export HOME=$work

# The size: every file and folder rounded up to 4 KiB, plus room for the
# catalog, the extents tree and the bitmap. A volume that turns out too small
# is made again twice as large.
bytes=$(find "$mac_dir" -mindepth 1 \( -type f -printf '%s\n' -o -printf '4096\n' \) |
  awk '{ total += int(($1 + 4095) / 4096) * 4096 + 512 } END { printf "%d", total }')
size=$(((bytes + bytes / 8 + 1048576 + 511) / 512 * 512))
hfs_name=${HFS_NAME:-$(basename -- "$(cd "$mac_dir" && pwd)")}
hfs_name=${hfs_name//:/ }
hfs_name=${hfs_name:0:27}
iso_name=${ISO_NAME:-$(basename -- "$(cd "$pc_dir" && pwd)")}
iso_name=${iso_name:0:32}

fill_volume() {
  rm -f "$work/mac.hfs"
  truncate -s "$1" "$work/mac.hfs"
  hformat -l "$hfs_name" "$work/mac.hfs" 0 >/dev/null || return 1
  mounted=1
  local path rel hfs_path
  while IFS= read -r -d '' path; do
    rel=${path#"$mac_dir"/}
    hfs_path=:${rel//\//:}
    if [[ -d $path ]]; then
      hmkdir "$hfs_path" || return 1
    else
      hcopy -r "$path" "$hfs_path" || return 1
    fi
  done < <(find "$mac_dir" -mindepth 1 -print0 | sort -z)
  humount >/dev/null
  mounted=0
}
tries=0
until fill_volume "$size" 2>"$work/hfs.err"; do
  if ((mounted)); then humount >/dev/null 2>&1 || true; fi
  mounted=0
  tries=$((tries + 1))
  if ((tries >= 4)) || ! grep -qi 'full\|space' "$work/hfs.err"; then
    cat "$work/hfs.err" >&2
    die "could not make the HFS volume of $mac_dir; nothing was made."
  fi
  size=$((size * 2))
done
echo "$me: HFS volume \"$hfs_name\", $size bytes, from $mac_dir"

genisoimage -quiet -r -J -V "$iso_name" -o "$work/pc.iso" "$pc_dir" ||
  die "genisoimage could not make the ISO image of $pc_dir; nothing was made."
echo "$me: ISO 9660 volume \"$iso_name\" (Rock Ridge and Joliet), from $pc_dir"

# The job works on the image inside the scratch folder; OUT.iso appears only
# once the hybrid is complete and on the disk.
status=0
"$cli" --from-file "$work/mac.hfs" --to-iso "$work/pc.iso" "$@" || status=$?
((status == 0)) || die "zelvorant-cli ended with status $status; $out was not made."
mv -n -- "$work/pc.iso" "$out"
[[ -f $out && ! -e $work/pc.iso ]] || die "could not move the hybrid to $out; it was not made."
sync -- "$out" "$out_dir" 2>/dev/null || true
echo "$me: wrote $out (hmount $out 1 for the Mac side, isoinfo -R -l -i $out for the PC side)"
