#!/usr/bin/env bash
# scripts/folders-to-hybrid.sh: two folders become a hybrid whose Mac side
# (hfsutils) and PC side (isoinfo, Rock Ridge and Joliet) read back file for
# file; names HFS cannot hold are refused before anything is made.
set -euo pipefail
script=$(realpath "$(dirname "$0")/../../scripts/folders-to-hybrid.sh")
source "$(dirname "$0")/lib.sh"
export ZELVORANT_CLI=$CLI

# run_script RC ARGS...: the script's output in out.txt and err.txt.
run_script() {
  local expected=$1 status=0
  shift
  bash "$script" "$@" >out.txt 2>err.txt || status=$?
  [[ $status == "$expected" ]] || fail "folders-to-hybrid $* exited $status, expected $expected"
}

# Nested folders, an empty one, a name of exactly 31 bytes, spaces, and
# files large enough that the first size estimate is tested.
random_file "mac/Read Me" 1000
random_file mac/Documents/Letters/letter-1 70000
random_file mac/Documents/Letters/letter-2 0
random_file mac/Documents/Pictures/big.pict 3000000
random_file mac/abcdefghijklmnopqrstuvwxyz01234 10
mkdir -p mac/Empty
random_file pc/readme.txt 500
random_file "pc/Long file name for Joliet.txt" 2000
random_file pc/docs/manual.txt 40000

run_script 0 mac pc hybrid.iso
grep -q 'wrote hybrid.iso' out.txt || fail "no line names the result"
[[ -z $(find . -maxdepth 1 -name '.folders-to-hybrid.*') ]] || fail "the scratch folder was left"
[[ $(partx_row hybrid.iso 2) == *" Apple_HFS MacOS" ]] || fail "partx: $(partx_row hybrid.iso 2)"

# The Mac side, file for file and folder for folder.
[[ $(volume_name hybrid.iso 1) == mac ]] || fail "the HFS volume is not named after the folder"
dump_volume hybrid.iso 1 mac-back
diff -r mac mac-back >/dev/null || fail "the Mac side does not read back as the folder"
[[ -d mac-back/Empty ]] || fail "the empty folder is missing on the Mac side"

# The PC side: Rock Ridge names and Joliet names.
while IFS= read -r path; do
  isoinfo -R -i hybrid.iso -x "/$path" | cmp -s - "pc/$path" || fail "Rock Ridge: /$path differs"
  isoinfo -J -i hybrid.iso -x "/$path" | cmp -s - "pc/$path" || fail "Joliet: /$path differs"
done < <(cd pc && find . -type f | sed 's|^\./||')
isoinfo -d -i hybrid.iso | grep -q '^Volume id: pc$' || fail "the ISO volume is not named after the folder"

# Refusals, each before anything is made: names HFS cannot hold, an
# existing result, a missing folder.
mkdir -p bad/Sub
touch "bad/Sub/abcdefghijklmnopqrstuvwxyz012345" "bad/a:b" bad/Case bad/CASE
run_script 1 bad pc refused.iso
for why in "longer than 31 bytes: Sub/abcdefghijklmnopqrstuvwxyz012345" \
  "holds ':', the HFS path separator: a:b" "two names that differ only in case" \
  "nothing was made"; do
  grep -qF "$why" err.txt || fail "the refusal does not say: $why"
done
[[ ! -e refused.iso ]] || fail "a refused run made refused.iso"
sum=$(sha256sum <hybrid.iso)
run_script 1 mac pc hybrid.iso
grep -q 'exists and was left as it is' err.txt || fail "an existing result is not named"
[[ $(sha256sum <hybrid.iso) == "$sum" ]] || fail "an existing result was changed"
run_script 1 no-such-folder pc other.iso
run_script 2 mac pc

# The options after the folders go to zelvorant-cli; its failure is passed
# on, and no result is left.
run_script 1 mac pc failed.iso --no-such-option
grep -q 'status 2; failed.iso was not made' err.txt || fail "the job's failure is not passed on"
[[ ! -e failed.iso ]] || fail "a failed job left failed.iso"
[[ -z $(find . -maxdepth 1 -name '.folders-to-hybrid.*') ]] || fail "a scratch folder was left"
echo "folders-to-hybrid: ok"
