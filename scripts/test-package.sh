#!/usr/bin/env bash
# The Debian package as a user meets it: builds it from a configured and
# built tree (cpack -G DEB), reads its control fields and copyright file (and
# lets lintian read it, where installed), installs the tree with `cmake
# --install` under a prefix of its own and runs a floppy job there, installs
# the package with apt-get, runs the installed zelvorant-cli (its version, its
# man page, the demo's job, a floppy job that needs the installed dskgrab) and
# removes the package again. The README's synopsis is checked against --help.
#
#   test-package.sh [BUILD-DIR]      (default build/)
#
# Installing the package needs root: elsewhere it is only built and looked at.
# Exits non-zero when anything is wrong.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
build_dir=$(cd "${1:-build}" && pwd)
me=test-package
fail() {
  printf '%s: FAILED: %s\n' "$me" "$*" >&2
  exit 1
}
ok() { printf '%s: ok: %s\n' "$me" "$*"; }

[[ -f $build_dir/CPackConfig.cmake ]] || fail "$build_dir is not a configured build"
cmake --build "$build_dir" -j"${JOBS:-$(nproc)}" --target zelvorant-cli dskgrab man_page >/dev/null
rm -rf "$build_dir/package"
cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$build_dir/package" >/dev/null ||
  fail "cpack -G DEB"
debs=("$build_dir"/package/zelvorant_*.deb)
[[ -f ${debs[0]} ]] || fail "no zelvorant_*.deb in $build_dir/package"
deb=${debs[0]}
ok "built ${deb#"$repo"/}"

# What the package holds and needs.
contents=$(dpkg-deb -c "$deb")
tools=/usr/libexec/zelvorant
for path in ./usr/bin/zelvorant-cli ".$tools/dskgrab" ./usr/share/man/man1/zelvorant-cli.1 \
  ./usr/share/doc/zelvorant/README.md ./usr/share/doc/zelvorant/LICENSE \
  ./usr/share/doc/zelvorant/copyright; do
  grep -q " $path\$" <<<"$contents" || fail "the package has no $path"
done
# Only zelvorant-cli runs the floppy tool: it is not on PATH.
! grep -q " ./usr/bin/dskgrab\$" <<<"$contents" || fail "the package puts dskgrab in /usr/bin"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libgcc-s1; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
# zelvorant-folders runs hfsutils and genisoimage: the package recommends them.
[[ $(dpkg-deb -f "$deb" Recommends) == *hfsutils* ]] || fail "hfsutils is not recommended"
ok "programs, man page, README, LICENSE and copyright; Depends: $depends"

# The description: a synopsis, then lines of at most 80 columns, none of
# them joined from a list (a ";" where a line broke).
description=$(dpkg-deb -f "$deb" Description)
[[ $description != *";"* ]] || fail "the description holds a list's semicolons: $description"
long=$(awk 'length > 80' <<<"$description")
[[ -z $long ]] || fail "description lines longer than 80 columns: $long"
(($(wc -l <<<"$description") > 1)) || fail "the description has no long text: $description"
maintainer=$(dpkg-deb -f "$deb" Maintainer)
address='^[^<>]+ <[^@<> ]+@[^@<> ]+\.[a-z]+>$'
[[ $maintainer =~ $address ]] ||
  fail "the Maintainer is not a name and an address: $maintainer"
ok "description and Maintainer ($maintainer)"

work=$(mktemp -d "${TMPDIR:-/tmp}/$me.XXXXXX")
installed=0
cleanup() {
  humount >/dev/null 2>&1 || true
  if ((installed)); then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -q zelvorant >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# hfsutils keep their mounted volume under HOME: this script's own.
export HOME=$work

# The copyright file: Debian's machine-readable format, its licence the
# LICENSE's own words.
dpkg-deb --fsys-tarfile "$deb" | tar -xf - -C "$work" ./usr/share/doc/zelvorant/copyright
copyright=$work/usr/share/doc/zelvorant/copyright
[[ $(head -n 1 "$copyright") == "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]] ||
  fail "the copyright file is not in the machine-readable format"
holders=$(sed -n 's/^Copyright (c) //p' LICENSE)
grep -qxF "Copyright: $holders" "$copyright" ||
  fail "the copyright file does not name $holders"
sed -n '/^License: Expat$/,/^$/{/^License:/d;s/^ //;s/^\.$//;p}' "$copyright" >"$work/terms"
sed -n '/^Permission is hereby granted/,$p' LICENSE | cmp -s - "$work/terms" ||
  fail "the copyright file's licence is not LICENSE's"
ok "copyright: machine-readable, LICENSE's licence"

# lintian, where installed, as a second reader. Known and left: no changelog
# (the project keeps none) and the man page not compressed.
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" 2>/dev/null >"$work/lintian.txt" || true
  tags=$(grep -E '^[EW]: ' "$work/lintian.txt" |
    grep -vE ' (no-changelog|uncompressed-manual-page) ' || true)
  [[ -z $tags ]] || fail "lintian: $tags"
  ok "lintian: no errors or warnings but the known ones"
else
  echo "$me: note: lintian is not installed; the package is not read by it"
fi

# The README's synopsis is --help's.
usage=$("$build_dir/zelvorant-cli" --help | sed -n 's/^Usage: //p; s/^  or:  //p')
synopsis=$(sed -n '/^## zelvorant-cli$/,/^  -/p' README.md | grep '^zelvorant-cli ')
[[ $usage == "$synopsis" ]] || fail "the README's synopsis differs from --help's: $synopsis"
ok "the README's synopsis is --help's"

# `cmake --install` lays the tree out as the package does: zelvorant-cli,
# under a prefix of its own, finds the dskgrab installed with it, with
# nothing on PATH (ZELVORANT_FLOPPY_IMAGE stands in for the drive).
truncate -s 1440K "$work/floppy.raw"
hformat -l Floppy "$work/floppy.raw" >/dev/null
humount >/dev/null
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
[[ ! -e $work/prefix/bin/dskgrab ]] || fail "cmake --install put dskgrab in bin/"
(cd "$work" && ZELVORANT_FLOPPY_IMAGE=$work/floppy.raw PATH=/nonexistent \
  "$work/prefix/bin/zelvorant-cli" --from-drive A: --to-hfs-image prefix.img) \
  >"$work/prefix.out" 2>&1 || { cat "$work/prefix.out" >&2; fail "the floppy job under the prefix"; }
cmp -s -i 0:32768 "$work/floppy.raw" "$work/prefix.img" || fail "prefix.img does not hold the floppy"
ok "installed under a prefix, zelvorant-cli ran its dskgrab"

if ((EUID != 0)); then
  echo "$me: skipped installing the package: that needs root (CI runs as root)."
  exit 0
fi
if dpkg-query -W -f='${Status}' zelvorant 2>/dev/null | grep -q 'install ok installed'; then
  echo "$me: skipped installing the package: a zelvorant package is installed already and is left as it is."
  exit 0
fi

DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get install $deb"; }
installed=1
[[ $(command -v zelvorant-cli) == /usr/bin/zelvorant-cli ]] || fail "zelvorant-cli is not /usr/bin/zelvorant-cli"
version=$(cd / && zelvorant-cli --version)
[[ $version == "zelvorant-cli "* ]] || fail "zelvorant-cli --version said: $version"
ok "installed; $version"

# Debian's container images leave man pages out (path-exclude in
# /etc/dpkg/dpkg.cfg.d): the page is then read from the package itself.
page=/usr/share/man/man1/zelvorant-cli.1
if [[ ! -f $page ]]; then
  echo "$me: note: dpkg left $page out (path-exclude); reading it from the package"
  dpkg-deb --fsys-tarfile "$deb" | tar -xf - -C "$work" ./usr/share/man/man1/zelvorant-cli.1
  page=$work/usr/share/man/man1/zelvorant-cli.1
fi
MANWIDTH=80 man -l "$page" >"$work/man.txt" 2>"$work/man.err" ||
  { cat "$work/man.err" >&2; fail "man -l $page"; }
for heading in NAME SYNOPSIS DESCRIPTION EXAMPLES FILES "SEE ALSO"; do
  grep -q "^$heading" "$work/man.txt" || fail "the man page has no $heading section"
done
grep -q -- '--from-file' "$work/man.txt" || fail "the man page does not list --from-file"
ok "man -l renders the man page"

# The demo's job with the installed command.
cd "$work"
mkdir pc
printf 'Hello from the PC side.\n' >pc/readme.txt
printf 'Hello from the Mac side.\n' >mac.txt
truncate -s 4M hfs.img
hformat -l "Package test" hfs.img 0 >/dev/null
hcopy -r mac.txt :ReadMe.txt
humount >/dev/null
genisoimage -quiet -r -J -V PACKAGE -o cd.iso pc
zelvorant-cli --from-file hfs.img --to-iso cd.iso >job.out 2>&1 || { cat job.out >&2; fail "the job"; }
grep -q '^cd.iso is now a Mac/PC hybrid: ' job.out || fail "no completion message"
hmount cd.iso 1 >/dev/null
hcopy -r :ReadMe.txt - | cmp -s - mac.txt || fail "the Mac side does not read back"
humount >/dev/null
isoinfo -R -i cd.iso -x /readme.txt | cmp -s - pc/readme.txt || fail "the PC side does not read back"
ok "the installed zelvorant-cli made a hybrid that reads back on both sides"

# A floppy job runs dskgrab: the installed one, found in the package's tools
# folder with nothing on PATH.
ZELVORANT_FLOPPY_IMAGE=$work/floppy.raw PATH=/nonexistent \
  /usr/bin/zelvorant-cli --from-drive A: --to-hfs-image floppy.img >floppy.out 2>&1 ||
  { cat floppy.out >&2; fail "the floppy job (dskgrab)"; }
cmp -s -i 0:32768 floppy.raw floppy.img || fail "floppy.img does not hold the floppy"
ok "the installed zelvorant-cli ran the installed dskgrab"

cd "$repo"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q zelvorant >/dev/null || fail "apt-get remove zelvorant"
installed=0
[[ ! -e /usr/bin/zelvorant-cli && ! -e $tools/dskgrab ]] || fail "the programs are still there"
ok "removed"
echo "$me: passed"
