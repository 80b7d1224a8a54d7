#!/usr/bin/env bash
# Screenshots of the main window and of each dialog, as the read-me shows
# them: taken under Xvfb in an 800 x 600 Wine desktop (which draws the title
# bars) and cropped to the window. The Wine GUI tests run first, on the same
# images.
#   bash scripts/screenshots.sh [DIR]     (default docs/screenshots)
# Needs the Windows build in build-win32/ (scripts/test-windows.sh makes it)
# and ImageMagick.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
build="build-win32"
for file in zelvorant.exe dskgrab.exe tests/wine/gui_driver.exe tests/wine/wnaspi32.dll; do
  [[ -f $build/$file ]] || { echo "screenshots: $build/$file is missing: build the Windows programs first" >&2; exit 1; }
done
command -v import >/dev/null || { echo "screenshots: ImageMagick is missing" >&2; exit 1; }

ZELVORANT_SCREENSHOTS=${1:-docs/screenshots} bash tests/wine/run_gui_tests.sh \
  "$build/zelvorant.exe" "$build/dskgrab.exe" "$build/tests/wine/gui_driver.exe" "$build/tests/wine/wnaspi32.dll"
