#!/usr/bin/env bash
# The style the project declared: every C++ file as .clang-format has it,
# every shell script free of shellcheck warnings. Prints what differs and
# exits non-zero when anything does.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
# One clang-format for everybody: another release formats a few lines
# differently, and the check would then disagree between machines.
format=${CLANG_FORMAT:-clang-format-14}
status=0

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
echo "check-style: ${#sources[@]} C++ files with $format"
"$format" --dry-run --Werror "${sources[@]}" || status=1

mapfile -t scripts < <(git ls-files '*.sh' .ci/run)
echo "check-style: ${#scripts[@]} shell scripts with shellcheck"
shellcheck -S warning "${scripts[@]}" || status=1

if ((status == 0)); then
  echo "check-style: 2 passed, 0 failed"
fi
exit "$status"
