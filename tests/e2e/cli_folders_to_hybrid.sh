#!/usr/bin/env bash
# zelvorant-folders (scripts/folders-to-hybrid.sh): two folders become a
# hybrid whose Mac side (hfsutils) and PC side (isoinfo, Rock Ridge and
# Joliet) read back file for file; Mac names are Mac Roman, MacBinary,
# BinHex and AppleDouble files keep both forks, type and creator; names and
# options HFS cannot take are refused before anything is made. The installed
# command finds zelvorant-cli and its helper beside it.
set -euo pipefail
script=$(realpath "$(dirname "$0")/../../scripts/folders-to-hybrid.sh")
source "$(dirname "$0")/lib.sh"
build=$(dirname "$CLI")
export ZELVORANT_CLI=$CLI ZELVORANT_MACFILE=$build/zelvorant-macfile
[[ -x $ZELVORANT_MACFILE ]] || fail "zelvorant-macfile is not built in $build"

# run_script RC ARGS...: the script's output in out.txt and err.txt.
run_script() {
  local expected=$1 status=0
  shift
  bash "$script" "$@" >out.txt 2>err.txt || status=$?
  [[ $status == "$expected" ]] || fail "zelvorant-folders $* exited $status, expected $expected"
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
[[ -z $(find . -maxdepth 1 -name '.zelvorant-folders.*') ]] || fail "the scratch folder was left"
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
for why in "longer than 31 characters: Sub/abcdefghijklmnopqrstuvwxyz012345" \
  "holds ':', the HFS path separator: a:b" "one HFS name for two entries (HFS ignores case)" \
  "nothing was made"; do
  grep -qF -e "$why" err.txt || fail "the refusal does not say: $why"
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
[[ -z $(find . -maxdepth 1 -name '.zelvorant-folders.*') ]] || fail "a scratch folder was left"

# Mac files, made here: a MacBinary II application with a resource fork, an
# AppleDouble pair beside each other and one whose sidecar a zip archive put
# in __MACOSX, a BinHex copy of the application made by hcopy -b, a .bin
# that is not MacBinary, accented names (one decomposed, as macOS writes
# them, one of 29 characters and 58 UTF-8 bytes), an orphan sidecar.
python3 - <<'PY'
import binascii, os, struct
def pad(b): return b + bytes(-len(b) % 128)
def macbinary(name, typ, creator, data, rsrc):
    h = bytearray(128)
    h[1] = len(name); h[2:2 + len(name)] = name
    h[65:73] = typ + creator
    struct.pack_into('>II', h, 83, len(data), len(rsrc))
    h[122] = h[123] = 129
    struct.pack_into('>H', h, 124, binascii.crc_hqx(bytes(h[:124]), 0))
    return bytes(h) + pad(data) + pad(rsrc)
def apple_double(typ, creator, rsrc):
    finder = typ + creator + bytes(24)
    head = struct.pack('>II16sH', 0x00051607, 0x00020000, bytes(16), 2)
    at = len(head) + 24
    head += struct.pack('>III', 9, at, 32) + struct.pack('>III', 2, at + 32, len(rsrc))
    return head + finder + rsrc
def put(path, data):
    os.makedirs(os.path.dirname(path) or '.', exist_ok=True)
    open(path, 'wb').write(data)
rsrc = bytes(range(256)) * 3
put('want/app.data', b'application data fork')
put('want/app.rsrc', rsrc)
put('m/Tools/Demo App.bin', macbinary(b'Demo App', b'APPL', b'ZlvA', b'application data fork', rsrc))
put('m/Docs/Note', b'note data')
put('m/Docs/._Note', apple_double(b'TEXT', b'ZlvN', b'note resources'))
put('m/Zip/Letter', b'letter data')
put('m/__MACOSX/Zip/._Letter', apple_double(b'LTTR', b'ZlvL', b'letter resources'))
put('m/._Gone', apple_double(b'TEXT', b'ttxt', b''))
put('m/plain.bin', b'\0' * 300)
put('m/\u00e9t\u00e9/R\u00e9sum\u00e9.txt'.encode(), b'cv')
put('m/\u00e9t\u00e9/Cafe\u0301'.encode(), b'coffee')
put(('m/\u00e9t\u00e9/' + '\u00c9' * 29).encode(), b'long')
os.makedirs('m/System Folder', exist_ok=True)
PY
new_volume hqx.hfs 800 Hqx
hmount hqx.hfs >/dev/null && hcopy -m "m/Tools/Demo App.bin" ":Demo App" &&
  hcopy -b ":Demo App" "m/Tools/Copy.hqx" && humount
[[ $(head -c 45 "m/Tools/Copy.hqx") == "(This file must be converted with BinHex 4.0)" ]] ||
  fail "hcopy -b made no BinHex file"

# The installed command: zelvorant-cli and zelvorant-macfile are found beside
# it. MACDIR and PCDIR are one folder.
cmake --install "$build" --prefix "$WORK/inst" >/dev/null || fail "cmake --install failed"
folders=$WORK/inst/bin/zelvorant-folders
[[ -x $folders && -x $WORK/inst/libexec/zelvorant/zelvorant-macfile ]] || fail "not installed"
[[ $(env -u ZELVORANT_CLI -u ZELVORANT_MACFILE "$folders" --version) == "zelvorant-folders (Zelvorant) "* ]] ||
  fail "the installed zelvorant-folders has no --version"
status=0
env -u ZELVORANT_CLI -u ZELVORANT_MACFILE PATH=/usr/bin:/bin "$folders" --hfs-name "Démo Mac" \
  --bless "System Folder" --iso-name=DEMO m m mac.iso >out.txt 2>err.txt || status=$?
((status == 0)) || fail "the installed zelvorant-folders exited $status"
grep -qF "left out ._Gone: Mac information for Gone, which is not there" out.txt ||
  fail "the orphan sidecar is not named"

# hls -l: the type and creator of NAME in FOLDER (Mac Roman names, UTF-8 here).
type_creator() {  # FOLDER NAME
  hls -l "$(printf %s "$1" | iconv -f UTF-8 -t MACINTOSH)" | iconv -f MACINTOSH -t UTF-8 |
    awk -v name="$2" 'substr($0, 1, 1) == "f" && substr($0, length($0) - length(name)) == " " name {
      print $2 }'
}
hmount mac.iso 1 | iconv -f MACINTOSH -t UTF-8 | grep -qF 'Volume name is "Démo Mac"' ||
  fail "the HFS volume name is not Démo Mac in Mac Roman"
while IFS='|' read -r folder name code; do
  [[ $(type_creator "$folder" "$name") == "$code" ]] ||
    fail "$folder$name is $(type_creator "$folder" "$name"), expected $code"
done <<'ROWS'
:Tools:|Demo App|APPL/ZlvA
:Tools:|Copy|APPL/ZlvA
:Docs:|Note|TEXT/ZlvN
:Zip:|Letter|LTTR/ZlvL
:|plain.bin|????/????
:été:|Résumé.txt|TEXT/ttxt
:été:|Café|????/????
:été:|ÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉ|????/????
ROWS
[[ -z $(hls -a : | grep -e '^\._' -e __MACOSX) ]] || fail "sidecars reached the Mac side"
# Both forks, out as MacBinary and compared: the application, its BinHex copy,
# the AppleDouble pairs.
forks() {  # HFS-PATH DATA RESOURCE
  hcopy -m "$1" back.bin || fail "hcopy -m $1"
  python3 -c 'import struct, sys
b = open("back.bin", "rb").read(); d, r = struct.unpack(">II", b[83:91])
sys.exit(b[128:128 + d] != open(sys.argv[1], "rb").read() or
         b[128 + (d + 127) // 128 * 128:][:r] != sys.argv[2].encode("latin-1") + open(sys.argv[3], "rb").read())' \
    "$2" "" "$3" || fail "the forks of $1 differ"
}
printf 'note resources' >want/note.rsrc
printf 'letter resources' >want/letter.rsrc
forks ":Tools:Demo App" want/app.data want/app.rsrc
forks ":Tools:Copy" want/app.data want/app.rsrc
forks ":Docs:Note" m/Docs/Note want/note.rsrc
forks ":Zip:Letter" m/Zip/Letter want/letter.rsrc
humount
# The blessed folder's number: the first long of the volume's Finder information.
start=$(partx_row mac.iso 2 | awk '{print $1}')
blessed=$(od -An -tu4 --endian=big -j $((start * 512 + 1024 + 0x5C)) -N 4 mac.iso | tr -d ' ')
((blessed >= 16)) || fail "no folder is blessed ($blessed)"

# The ISO side: every file as it is, without the sidecars.
isoinfo -R -i mac.iso -x "/Tools/Demo App.bin" | cmp -s - "m/Tools/Demo App.bin" ||
  fail "the MacBinary file is not the same plain file on the ISO side"
listing=$(isoinfo -R -l -i mac.iso)
[[ $listing != *"._Note"* && $listing != *__MACOSX* && $listing == *"Résumé.txt"* ]] ||
  fail "the ISO side: $listing"
isoinfo -d -i mac.iso | grep -q '^Volume id: DEMO$' || fail "--iso-name= was not taken"

# A map of one's own replaces the built-in one; HFS_NAME is the fallback. A
# first volume far too small fills up, and the hybrid is made again with one
# twice as large each time, until the files fit.
printf '# EXTN XLate CREATOR TYPE Comment\n.txt Ascii %s %s "text"\n* Raw %s %s "any"\n' \
  "'R*ch'" "'TEXT'" "'ZlvD'" "'BINA'" >my.map
HFS_NAME="From env" ZELVORANT_TEST_HFS_BYTES=819200 run_script 0 --map my.map mac pc mapped.iso
grep -q 'HFS volume "From env", 3276800 bytes' out.txt || fail "no larger volume: $(cat out.txt)"
dump_volume mapped.iso 1 mapped-back
diff -r mac mapped-back >/dev/null || fail "the volume made again does not read back as the folder"
hmount mapped.iso 1 | grep -qF 'Volume name is "From env"' || fail "HFS_NAME was not taken"
[[ $(type_creator ":" "Read Me") == BINA/ZlvD ]] || fail "the map's * row was not taken"
humount

# Refusals, before anything is made, each naming what is wrong.
mkdir -p bad2
touch "bad2/中文.txt"
while IFS='|' read -r rc why args; do
  read -ra words <<<"$args"
  run_script "$rc" "${words[@]}" pc refused.iso
  grep -qF -e "$why" err.txt || fail "zelvorant-folders $args: no \"$why\" in: $(cat err.txt)"
  [[ ! -e refused.iso && -z $(find . -maxdepth 1 -name '.zelvorant-folders.*') ]] ||
    fail "zelvorant-folders $args left something"
done <<'ROWS'
1|holds a character Mac Roman lacks (U+4E2D): 中文.txt|bad2
1|--bless Nowhere: no such folder in mac|--bless Nowhere mac
1|is longer than 27 characters|--hfs-name abcdefghijklmnopqrstuvwxyz01 mac
1|holds a character Mac Roman lacks (U+4E2D)|--hfs-name 中 mac
1|--map no.map: cannot read it|--map no.map mac
2|unknown option --colour|--colour mac
1|the HFS volume name "a:b" holds ':'|--hfs-name a:b mac
ROWS
printf '.txt Raw TEXT\n' >bad.map
run_script 1 --map bad.map mac pc refused.iso
grep -qF "line 1: expected EXTENSION TRANSLATION 'CREA' 'TYPE'" err.txt || fail "a bad map is not named"
echo "folders-to-hybrid: ok"
