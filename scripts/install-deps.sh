#!/usr/bin/env bash
# Installs the Debian packages needed to build, test, demonstrate and
# benchmark zelvorant. Packages already installed are left alone, so a run on
# a ready machine takes a moment and touches nothing.
set -euo pipefail

packages=(
  cmake g++ make              # build
  libgtest-dev libgmock-dev googletest  # unit tests
  hfsutils genisoimage        # make HFS volumes and ISO 9660 images, read them back
  util-linux                  # partx: reads the Apple partition map
  xz-utils                    # compressed sample images
  time                        # /usr/bin/time: peak memory in the benchmark
  python3
  g++-mingw-w64-i686          # the 32-bit Windows compiler: checks the request layouts
)

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
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "install-deps: done."
