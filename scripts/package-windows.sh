#!/usr/bin/env bash
# Builds the Windows programs (Release, without tests) in build-win32-release/
# and packs them with a short read-me and the licence into
# out/zelvorant-win32.zip.
# Needs the Debian packages cmake, g++-mingw-w64-i686 and zip.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
jobs=${JOBS:-$(nproc)}
build_dir=build-win32-release
stage=out/zelvorant-win32
zip_file=out/zelvorant-win32.zip

for tool in cmake i686-w64-mingw32-strip zip; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "package-windows: $tool not found (packages cmake g++-mingw-w64-i686 zip)" >&2
    exit 1
  }
done

cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZELVORANT_TESTS=OFF
cmake --build "$build_dir" -j"$jobs"

rm -rf "$stage" "$zip_file"
mkdir -p "$stage"
programs=(zelvorant.exe zelvorant-cli.exe dskgrab.exe)
for program in "${programs[@]}"; do
  if [[ -f $build_dir/$program ]]; then
    i686-w64-mingw32-strip -o "$stage/$program" "$build_dir/$program"
  elif [[ $program == zelvorant.exe ]]; then
    # The window program is built only where the build describes it.
    echo "package-windows: note: $build_dir/zelvorant.exe was not built; the archive has no window program" >&2
  else
    echo "package-windows: $build_dir/$program is missing" >&2
    exit 1
  fi
done
# Windows line ends, so that Notepad shows the read-me and the licence as
# written.
sed 's/$/\r/' packaging/README-WINDOWS.txt >"$stage/README-WINDOWS.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"

# One folder in the archive, so that unpacking makes the folder the
# programs belong in.
(cd "$(dirname "$stage")" && zip -q -X -9 -r "$repo/$zip_file" "$(basename "$stage")")
echo
unzip -l "$zip_file"
echo "package-windows: wrote $zip_file"
