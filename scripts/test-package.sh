#!/usr/bin/env bash
# The Debian package as a user meets it: builds it from a configured and
# built tree (cpack -G DEB), installs it with apt-get, runs the installed
# zelvorant-cli (its version, its man page, the demo's job, a floppy job that
# needs the installed dskgrab) and removes the package again.
#
#   test-package.sh [BUILD-DIR]      (default build/)
#
# Installing needs root: elsewhere the package is only built and looked at.
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
for path in ./usr/bin/zelvorant-cli ./usr/bin/dskgrab ./usr/share/man/man1/zelvorant-cli.1 \
  ./usr/share/doc/zelvorant/README.md ./usr/share/doc/zelvorant/LICENSE; do
  grep -q " $path\$" <<<"$contents" || fail "the package has no $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libgcc-s1; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
[[ $(dpkg-deb -f "$deb" Suggests) == *hfsutils* ]] || fail "hfsutils is not suggested"
ok "programs, man page, README and LICENSE; Depends: $depends"

if ((EUID != 0)); then
  echo "$me: skipped installing the package: that needs root (CI runs as root)."
  exit 0
fi
if dpkg-query -W -f='${Status}' zelvorant 2>/dev/null | grep -q 'install ok installed'; then
  echo "$me: skipped installing the package: a zelvorant package is installed already and is left as it is."
  exit 0
fi

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
export HOME=$work

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
grep -q '^Requested operation completed' job.out || fail "no completion message"
hmount cd.iso 1 >/dev/null
hcopy -r :ReadMe.txt - | cmp -s - mac.txt || fail "the Mac side does not read back"
humount >/dev/null
isoinfo -R -i cd.iso -x /readme.txt | cmp -s - pc/readme.txt || fail "the PC side does not read back"
ok "the installed zelvorant-cli made a hybrid that reads back on both sides"

# A floppy job runs dskgrab: the installed one, found next to the program
# with nothing on PATH (ZELVORANT_FLOPPY_IMAGE stands in for the drive).
truncate -s 1440K floppy.raw
hformat -l Floppy floppy.raw >/dev/null
humount >/dev/null
ZELVORANT_FLOPPY_IMAGE=$work/floppy.raw PATH=/nonexistent \
  /usr/bin/zelvorant-cli --from-drive A: --to-hfs-image floppy.img >floppy.out 2>&1 ||
  { cat floppy.out >&2; fail "the floppy job (dskgrab)"; }
cmp -s -i 0:32768 floppy.raw floppy.img || fail "floppy.img does not hold the floppy"
ok "the installed zelvorant-cli ran the installed dskgrab"

cd "$repo"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q zelvorant >/dev/null || fail "apt-get remove zelvorant"
installed=0
[[ ! -e /usr/bin/zelvorant-cli && ! -e /usr/bin/dskgrab ]] || fail "the programs are still there"
ok "removed"
echo "$me: passed"
