#!/usr/bin/env bash
# --info on every kind of image: ISO images (plain, with Joliet, Rock Ridge,
# El Torito, a PC boot record, an HFS side), HFS volumes, the hybrids the job
# makes, damaged maps, the sample images, and devices on the simulated bus.
# The JSON is checked against what partx, hfsutils and isoinfo read, and the
# image must be byte-identical afterwards.
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

# Runs --info and --info --json on IMAGE, each to exit RC; the text goes to
# IMAGE.txt, the JSON to IMAGE.json.
describe() {  # IMAGE RC [ARGS...]
  local image=$1 rc=$2
  shift 2
  local before
  before=$(sha256sum <"$image")
  run_cli "$rc" --info "$image" "$@"
  cp "$WORK/out.txt" "$image.txt"
  grep -q '^Layout: \[.*\]$' "$image.txt" || fail "no layout for $image"
  grep -q '^Verdict: ' "$image.txt" || fail "no verdict for $image"
  run_cli "$rc" --info "$image" --json "$@"
  cp "$WORK/out.txt" "$image.json"
  [[ $(sha256sum <"$image") == "$before" ]] || fail "--info changed $image"
}

# Each Python expression over the JSON object `j` of IMAGE must hold.
expect_json() {  # IMAGE EXPRESSION...
  python3 - "$@" <<'PY' || fail "JSON of $1"
import json, sys
j = json.load(open(sys.argv[1] + ".json"))
for expression in sys.argv[2:]:
    if not eval(expression):
        sys.exit(f"not true: {expression}\n{json.dumps(j, indent=1)}")
PY
}

# The partitions as partx and hmount see them match the JSON's entries,
# numbered as each tool numbers them; the ISO side as isoinfo sees it.
cross_check() {  # IMAGE
  local image=$1 kind nr rest name partx_reads=yes
  # partx lists nothing for some maps (the other tool's hybrid in the
  # samples also carries a PC boot record's 0x55AA); those are left out.
  [[ -n $(partx --show -g "$image" 2>/dev/null) ]] || partx_reads=no
  while IFS=$'\t' read -r kind nr rest; do
    case $kind in
      partx) [[ $partx_reads == no ]] || expect_partx "$image" "$nr" "$rest" ;;
      hfs)
        name=$(volume_name "$image" "$nr")
        [[ $name == "$rest" ]] || fail "hmount $image $nr: '$name', JSON says '$rest'"
        ;;
      iso)
        isoinfo -d -i "$image" | grep -qF "$rest" || fail "isoinfo -d $image lacks '$rest'"
        ;;
    esac
  done < <(python3 - "$image.json" <<'PY'
import json, sys
j = json.load(open(sys.argv[1]))
for e in j["entries"]:
    if e["partx"] is not None:
        print("partx", e["partx"], f'{e["first_block"]} {e["blocks"]} {e["type"]} {e["name"]}'.strip(), sep="\t")
    # hfsutils mount no HFS volume under 800 KB.
    if e["hfsutils"] is not None and e["volume"]["kind"] == "HFS" and e["volume"]["bytes"] >= 819200:
        print("hfs", e["hfsutils"], e["volume"]["name"], sep="\t")
if j["bare_volume"] and j["bare_volume"]["kind"] == "HFS" and j["bare_volume"]["bytes"] >= 819200:
    print("hfs", 0, j["bare_volume"]["name"], sep="\t")
iso = j["iso9660"]
if iso:
    print("iso", 0, f'Volume id: {iso["volume_name"]}', sep="\t")
    print("iso", 0, f'Volume size is: {iso["blocks"]}', sep="\t")
    if iso["joliet"]: print("iso", 0, "Joliet with UCS level", sep="\t")
    if iso["rock_ridge"]: print("iso", 0, "Rock Ridge signatures", sep="\t")
    if iso["el_torito"]: print("iso", 0, "El Torito VD", sep="\t")
PY
  )
}

mkdir -p iso
random_file iso/readme 20000
echo boot >iso/boot.img

# ISO images without a Mac side.
genisoimage -quiet -J -R -V PLAIN -o plain.iso iso
describe plain.iso 0
expect_json plain.iso 'j["iso9660"]["volume_name"] == "PLAIN"' 'j["iso9660"]["joliet"]' \
  'j["iso9660"]["rock_ridge"]' 'not j["iso9660"]["el_torito"]' 'j["system_area"] == ["empty"]' \
  'j["entries"] == [] and j["sound"]'
cross_check plain.iso
genisoimage -quiet -V BOOT -b boot.img -no-emul-boot -o boot.iso iso
describe boot.iso 0
expect_json boot.iso 'j["iso9660"]["el_torito"]' 'not j["iso9660"]["joliet"]' \
  'not j["iso9660"]["rock_ridge"]'
cross_check boot.iso
xorriso -as mkisofs --protective-msdos-label -V MBR -o mbr.iso iso 2>/dev/null
describe mbr.iso 0
expect_json mbr.iso '"pc_boot_record" in j["system_area"]' '"apple_map" not in j["system_area"]'
grep -q '^System area: a PC boot record' mbr.iso.txt || fail "mbr.iso: $(cat mbr.iso.txt)"

# A hybrid whose HFS side shares the ISO's files, without a map.
genisoimage -quiet -hfs -V GHFS -o genhfs.iso iso 2>/dev/null
describe genhfs.iso 0
expect_json genhfs.iso '"hfs_header" in j["system_area"]' 'j["bare_volume"]["name"] == "GHFS"' \
  'j["map_count"] is None'
cross_check genhfs.iso

# Other tools' sound hybrids: genisoimage pads its image past the Driver
# Descriptor's count and ends the system area with 0x55AA over an empty
# table; xorriso writes code where the Driver Descriptor's count would be,
# and maps of 2048-byte blocks unless told otherwise.
genisoimage -quiet -hfs -part -V GPART -o genpart.iso iso 2>/dev/null
xorriso -as mkisofs -hfsplus -V XAS -o xas.iso iso 2>/dev/null
xorriso -as mkisofs -hfsplus -apm-block-size 2048 -V XAS2K -o xas2k.iso iso 2>/dev/null
xorriso -outdev xnative.iso -hfsplus on -map iso / >/dev/null 2>&1
for peer in genhfs genpart xas xas2k xnative; do
  describe $peer.iso 0
  grep -qx 'Verdict: sound' $peer.iso.txt || fail "$peer.iso: $(cat $peer.iso.txt)"
  cross_check $peer.iso
done
for peer in genhfs genpart; do
  expect_json $peer.iso '"pc_boot_signature" in j["system_area"]' \
    '"pc_boot_record" not in j["system_area"]'
done
grep -qx 'System area: an Apple partition map and a PC boot signature (0x55AA) alone' \
  genpart.iso.txt || fail "genpart.iso: $(cat genpart.iso.txt)"
expect_json genpart.iso 'j["driver_descriptor"]["block_count"] * 512 < j["bytes"]' \
  '[e["volume"]["name"] for e in j["entries"] if e["volume"]] == ["GPART"]'
for peer in xas xnative; do
  grep -q '^Driver Descriptor: no valid Driver Descriptor ' $peer.iso.txt ||
    fail "$peer.iso: $(cat $peer.iso.txt)"
  expect_json $peer.iso 'j["driver_descriptor"]["valid"] is False'
done
expect_json xas2k.iso 'j["map_block_size"] == 2048' \
  '[e["volume"]["kind"] for e in j["entries"] if e["volume"]] == ["HFS+"]'

# HFS volumes: bare, and Apple-partitioned with two volumes.
new_volume bare.img 800 Bare
describe bare.img 0
expect_json bare.img 'j["iso9660"] is None' 'j["bare_volume"]["bytes"] == 800 * 1024'
cross_check bare.img
grep -qx 'Layout: \[HFS Bare \.*\]' bare.img.txt || fail "bare.img: $(cat bare.img.txt)"
new_partitioned parts.img 3300 Apple_HFS:Uno:64:1600 Apple_Free:Gap:1664:36 Apple_HFS:Dos:1700:1600
describe parts.img 0
expect_json parts.img '[e["row"] for e in j["entries"]] == [None, 0, None, 1]' \
  '[e["hfsutils"] for e in j["entries"]] == [None, 1, None, 2]'
cross_check parts.img

# The hybrids the job makes: a fresh map over a bare volume, the merged map,
# one partition chosen.
for kind in fresh merged chosen; do
  genisoimage -quiet -V "$kind" -o "$kind.iso" iso
done
run_cli 0 --from-file bare.img --to-iso fresh.iso
run_cli 0 --from-file parts.img --to-iso merged.iso --partition all
run_cli 0 --from-file parts.img --to-iso chosen.iso --partition 1
for kind in fresh merged chosen; do
  describe "$kind.iso" 0
  expect_json "$kind.iso" 'j["sound"] and j["bytes_after_data"] == 0' '"apple_map" in j["system_area"]' \
    '"map_block_size" not in j'
  cross_check "$kind.iso"
done
expect_json fresh.iso '[e["volume"]["name"] for e in j["entries"][1:]] == ["Bare"]' \
  'j["bytes_after_iso"] == 800 * 1024'
expect_json merged.iso '[e["volume"]["name"] for e in j["entries"][1:]] == ["Uno", "Dos"]' \
  '[e["partx"] for e in j["entries"]] == [1, 2, 3]'
expect_json chosen.iso '[e["volume"]["name"] for e in j["entries"][1:]] == ["Dos"]'
grep -Eq '^Layout: \[ma?p? *\|ISO 9660 \.*\|HFS Uno \.*\|HFS Dos \.*\]$' merged.iso.txt ||
  fail "merged.iso: $(cat merged.iso.txt)"

# Damaged maps: entries past the end, a count that lies. Exit 1, each
# problem named.
cp merged.iso past.iso
truncate -s -300K past.iso
describe past.iso 1
expect_json past.iso '{p["code"] for p in j["problems"]} == {"past_end", "block_count"}'
grep -q 'Dos.*past the end of the file' past.iso.txt || fail "past.iso: $(cat past.iso.txt)"
cp merged.iso liar.iso
printf '\000\000\000\011' | dd of=liar.iso bs=1 seek=516 conv=notrunc status=none
describe liar.iso 1
expect_json liar.iso '"map_count" in {p["code"] for p in j["problems"]}' 'j["map_count"] == 9'

# The sample images: described without a crash, as valid JSON, and their
# maps as partx reads them.
new_volume bbb.img 10240 BBB
names=(bbb.img)
for fixture in "$FIXTURES"/*; do
  [[ -f $fixture && $fixture != *.md ]] || continue # the index, the licences' folder
  cp "$fixture" .
  names+=("$(basename "$fixture")")
done
for name in "${names[@]}"; do
  rc=0
  "$CLI" --info "$name" --json >"$name.json" 2>"$WORK/err.txt" || rc=$?
  [[ $rc == 0 || $rc == 1 ]] || fail "--info $name exited $rc"
  cross_check "$name"
done
expect_json isolyzer-iso9660_hfs_part.iso '[e["partx"] for e in j["entries"]] == [1, 2]' \
  'j["entries"][1]["volume"]["kind"] == "HFS"'
expect_json node-apm-mac-os-disk-utility.bin '[e["row"] for e in j["entries"]] == [None, None, 0, 1, None, None]' \
  '"past_end" in {p["code"] for p in j["problems"]}'
expect_json bbb.img 'j["bare_volume"]["name"] == "BBB"'
expect_json fruitsu-hello.dmg '[p["code"] for p in j["problems"]] == ["unknown"]'
# A DVD's map of 2048-byte blocks: listed as partx lists it (cross_check
# above), in 512-byte blocks, though no job takes it; only the head of the
# disc, so its count and entries reach past the file.
describe node-apm-mac-osx-snow-leopard.bin 1
expect_json node-apm-mac-osx-snow-leopard.bin 'j["map_block_size"] == 2048' \
  '[(e["partx"], e["first_block"], e["blocks"]) for e in j["entries"]] == [(1, 4, 60), (2, 64, 2020420), (3, 2020488, 13157944), (4, 15178432, 12)]' \
  '{p["code"] for p in j["problems"]} == {"block_count", "past_end", "no_volume"}'
grep -q '^Partition map: 4 entries, 2048-byte blocks' node-apm-mac-osx-snow-leopard.bin.txt ||
  fail "snow leopard: $(cat node-apm-mac-osx-snow-leopard.bin.txt)"

# A device's volume, read through the simulated bus, is the file's.
describe merged.iso 0
run_cli 0 --attach cdrom:0:3=merged.iso --info --from-drive C030 --json
python3 - merged.iso.json "$WORK/out.txt" <<'PY' || fail "the CD-ROM's description differs from the file's"
import json, sys
a, b = (json.load(open(p)) for p in sys.argv[1:])
for key in ("iso9660", "system_area", "entries", "bytes", "problems"):
    assert a[key] == b[key], key
PY
run_cli 0 --attach disk:0:2=parts.img --info --from-drive A020
grep -q 'Apple_HFS "Dos"' "$WORK/out.txt" || fail "disk A020: $(cat "$WORK/out.txt")"
run_cli 1 --info --from-drive C050
expect_err "Nothing was written"

# What cannot be described is said, with the file left as it was.
run_cli 1 --info missing.iso
expect_err "missing.iso cannot be opened: No such file or directory. The file was not changed."
# Wine does not open a FIFO of the host as a pipe; the Linux build checks it.
if ! on_wine; then
  mkfifo pipe
  run_cli 1 --info pipe
  expect_err "is a pipe"
fi
run_cli 2 --info plain.iso --to-iso x.iso
echo "cli_info: OK"
