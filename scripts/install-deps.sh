#!/usr/bin/env bash
# Installs the Debian packages needed to build, test, demonstrate and
# benchmark zelvorant. Packages already installed are left alone, so a run on
# a ready machine takes a moment and touches nothing.
#
#   install-deps.sh               everything scripts/test.sh needs
#   install-deps.sh --cli         only what zelvorant-cli, scripts/demo.sh and
#                                 zelvorant-folders need
#   install-deps.sh --print [--cli]   prints the list on one line, installs
#                                 nothing (the README shows these lists, and
#                                 scripts/check-style.sh compares them)
set -euo pipefail

cli_packages=(
  cmake g++ make python3      # build (python3 checks the include rules)
  help2man                    # the man page, from zelvorant-cli --help
  hfsutils genisoimage        # make HFS volumes and ISO 9660 images, read them back
  util-linux                  # partx: reads the Apple partition map
)
more_packages=(
  clang-format-14 shellcheck  # the style check
  libgtest-dev libgmock-dev googletest  # unit tests
  xorriso                     # ISO images with a PC boot record or a GPT, as targets
  parted 7zip                 # parted and 7zz: two more readers of the map
  time                        # /usr/bin/time: peak memory in the benchmark
  xfsprogs                    # a loop-mounted XFS whose files share blocks (test, benchmark)
  dpkg-dev man-db             # the Debian package: its dependencies, its man page
  lintian                     # and a second reader of the package
  g++-mingw-w64-i686 binutils-mingw-w64-i686  # the 32-bit Windows build
  wine wine32:i386 xvfb xauth # runs the Windows build's tests, windows and all
  fonts-wine                  # the dialogs' fonts under Wine
  libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386  # what Wine's X
  libxinerama1:i386 libxcomposite1:i386 libxfixes3:i386          # driver loads
  imagemagick                 # screenshots of the windows
  zip                         # the Windows package
  clang-14 libclang-rt-14-dev # libFuzzer targets under ASan and UBSan
  ccache                      # the five builds of scripts/test.sh share one compiler cache
  qemu-system-x86 linux-image-amd64 busybox-static cpio  # tests/vm: a real kernel in QEMU
)

only_cli=0 print=0
for arg in "$@"; do
  case $arg in
    --cli) only_cli=1 ;;
    --print) print=1 ;;
    *)
      echo "install-deps: unknown argument $arg (use --cli, --print)" >&2
      exit 2
      ;;
  esac
done
packages=("${cli_packages[@]}")
((only_cli)) || packages+=("${more_packages[@]}")
if ((print)); then
  echo "${packages[*]}"
  exit 0
fi

# A name with an architecture (wine32:i386) is asked for as it stands.
missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all packages present."
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if ! command -v apt-get >/dev/null 2>&1; then
  echo "install-deps: apt-get not found; please install these packages: ${missing[*]}" >&2
  exit 1
fi

as_root=()
if ((EUID != 0)); then
  if command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
  else
    echo "install-deps: not root and no sudo; please install: ${missing[*]}" >&2
    exit 1
  fi
fi

export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine comes from the i386 architecture, which apt must know before the
# update that fetches its package lists.
for package in "${missing[@]}"; do
  [[ $package == *:* ]] || continue
  arch=${package##*:}
  if [[ $arch != "$(dpkg --print-architecture)" ]] &&
    ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    echo "install-deps: adding the $arch architecture"
    "${as_root[@]}" dpkg --add-architecture "$arch"
  fi
done
"${as_root[@]}" apt-get update -q
# With the packages they recommend, as they are tested here: Wine's X driver
# and fonts come partly through recommendations. QEMU and the kernel are the
# exception: the test boots them headless, and their recommendations (QEMU's
# windows and sound, Ceph, UEFI firmware, the kernel's firmware) would only
# lengthen a fresh machine's first run. So would the twenty more packages
# lintian's dependencies recommend, for nothing the package check reads.
lean=() full=()
for package in "${missing[@]}"; do
  case $package in
    qemu-system-x86 | linux-image-amd64 | lintian) lean+=("$package") ;;
    *) full+=("$package") ;;
  esac
done
if ((${#full[@]} > 0)); then "${as_root[@]}" apt-get install -y -q "${full[@]}"; fi
if ((${#lean[@]} > 0)); then
  "${as_root[@]}" apt-get install -y -q --no-install-recommends "${lean[@]}"
fi
echo "install-deps: done."
