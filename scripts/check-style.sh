#!/usr/bin/env bash
# The style the project declared: every C++ file as .clang-format has it,
# every shell script free of shellcheck warnings, the package lists the
# README gives the very lists scripts/install-deps.sh installs, and no file
# that reads outside the checkout. Prints what differs and exits non-zero
# when anything does.
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

# The words of the first code block after the README line that begins with
# MARKER, on one line.
readme_list() {  # MARKER
  awk -v marker="$1" 'index($0, marker) == 1 { found = 1; next }
    found && /^```/ { if (block) exit; block = 1; next }
    block { print }' README.md | xargs
}
echo "check-style: the README's package lists against scripts/install-deps.sh --print"
for choice in "" --cli; do
  marker="<!-- install-deps${choice:+ $choice}:"
  script_list=$(bash scripts/install-deps.sh --print $choice | xargs)
  readme=$(readme_list "$marker")
  if [[ $readme != "$script_list" ]]; then
    printf 'README.md (block after "%s"): %s
scripts/install-deps.sh --print %s: %s
' \
      "$marker" "${readme:-(none)}" "$choice" "$script_list"
    status=1
  fi
done

# A clone on its own must pass its tests: nothing may read a folder beside
# the checkout.
echo "check-style: nothing reads a folder beside the checkout"
if git grep -n -e '\.\./shared' -- . ':!*.md' ':!scripts/check-style.sh'; then
  echo "check-style: the lines above read ../shared: the tests' images belong in tests/fixtures"
  status=1
fi

if ((status == 0)); then
  echo "check-style: 4 passed, 0 failed"
fi
exit "$status"
