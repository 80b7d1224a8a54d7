#!/usr/bin/env bash
# The device jobs on a real Linux kernel: boots the machine's own kernel in
# QEMU (KVM where /dev/kvm works, else TCG) with emulated drives, an LSI
# 53C895A and a virtio-scsi adapter each with a disk and a CD-ROM, an ATAPI
# CD-ROM on IDE, a USB mass-storage disk and a floppy drive, and runs
# zelvorant-cli against them from an initramfs made here of busybox, the
# kernel's modules, zelvorant-cli and dskgrab (tests/vm/guest_init.sh is its
# /init). The guest writes its results to a second disk; here every result
# is compared byte for byte with the same job run from the image files, and
# read back with partx, hfsutils and isoinfo. Prints a table of the cases and
# the time taken.
#
#   real_kernel.sh CLI DSKGRAB FIXTURES BUILD-DIR
#
# Exits 77 (skipped) with one line when QEMU, a kernel with its modules or a
# static busybox is missing. ZELVORANT_VM_KERNEL picks /boot/vmlinuz-VERSION;
# ZELVORANT_VM_TIMEOUT (seconds, default 300) bounds the guest's run;
# ZELVORANT_VM_ACCEL (kvm or tcg) skips the test of KVM.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:?usage: real_kernel.sh CLI DSKGRAB FIXTURES BUILD-DIR}")
dskgrab=$(realpath "${2:?}")
fixtures=$(realpath "${3:?}")
build=$(realpath -m "${4:?}")

skip() {
  echo "SKIP: $*"
  exit 77
}

# The guest runs the programs built here.
[[ $(uname -m) == x86_64 ]] || skip "the programs are built for $(uname -m), the guest is x86-64"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (qemu-system-x86)"
busybox=$(command -v busybox || true)
[[ -n $busybox ]] && ! ldd "$busybox" >/dev/null 2>&1 ||
  skip "no static busybox (busybox-static)"
command -v cpio >/dev/null || skip "cpio is not installed"
kernel=
if [[ -n ${ZELVORANT_VM_KERNEL:-} ]]; then
  kernel=/boot/vmlinuz-$ZELVORANT_VM_KERNEL
else
  for candidate in $(find /boot -maxdepth 1 -name 'vmlinuz-*' 2>/dev/null | sort -rV); do
    [[ -f /lib/modules/${candidate#/boot/vmlinuz-}/modules.dep ]] && kernel=$candidate && break
  done
fi
[[ -n $kernel && -f $kernel ]] ||
  skip "no kernel image ${kernel:-/boot/vmlinuz-*} with its modules (linux-image-amd64)"
[[ -r $kernel ]] || skip "$kernel cannot be read by $(id -un)"
version=${kernel#/boot/vmlinuz-}
modules=/lib/modules/$version
[[ -r $modules/modules.dep ]] || skip "no modules for $version in $modules"

mkdir -p "$build"
export TMPDIR=$build
# shellcheck source=tests/e2e/lib.sh
source "$here/../e2e/lib.sh" "$cli" "$fixtures"
started=$SECONDS
console=$build/console.log

# The images, as tests/e2e/cli_device_jobs.sh makes them. The big disk puts
# a partition past block 2^21, beyond READ(6)'s reach, and stays sparse.
random_file iso/README 5000
random_file iso/DATA.BIN 200000
new_iso plain.iso iso
random_file vol1/Small 1
random_file vol1/Odd 12345
random_file vol1/Folder/Inner 70001
random_file vol2/Notes 4321
random_file vol3/Only 100000
new_partitioned two.img $((64 + 30 + 4002 + 10 + 3001)) Apple_Driver43:Driver:64:30 \
  Apple_HFS:First:94:4002 Apple_Free:Extra:4096:10 Apple_HFS:Second:4106:3001
new_partitioned three.img $((64 + 4000 + 3001 + 2999)) Apple_HFS:First:64:4000 \
  Apple_HFS:Second:4064:3001 Apple_HFS:Third:7065:2999
new_partitioned big.img $((2097152 + 3100)) Apple_HFS:Near:64:4000 Apple_HFS:Far:2097200:3001
for disk in two three big; do fill_volume $disk.img 1 vol1; done
fill_volume two.img 2 vol2
fill_volume three.img 2 vol2
fill_volume three.img 3 vol3
fill_volume big.img 2 vol3
# A CD-ROM holds whole 2048-byte sectors.
for disk in two three; do
  cp $disk.img $disk-cd.img
  truncate -s %2048 $disk-cd.img
done
cp "$fixtures/format-corpus-JW_disk9_hfstest_9.img" floppy.img
truncate -s 256M results.img

# The drives: NAME, the image it holds, and the product its INQUIRY answers
# (QEMU's ATAPI drive and USB disk answer with fixed names).
declare -A image_of=([lsi-disk]=three.img [lsi-cd]=three-cd.img [virtio-disk]=big.img
  [virtio-cd]=two-cd.img [ide-cd]=three-cd.img [usb-disk]=two.img)
declare -A product_of=([lsi-disk]=LSI-DISK [lsi-cd]=LSI-CD [virtio-disk]=VIRTIO-DISK
  [virtio-cd]=VIRTIO-CD [ide-cd]="QEMU DVD-ROM" [usb-disk]="QEMU HARDDISK")
declare -A target_of=([lsi-disk]=3 [lsi-cd]=5 [virtio-disk]=1 [virtio-cd]=2 [ide-cd]=0 [usb-disk]=0)
drive_names=(lsi-disk lsi-cd virtio-disk virtio-cd ide-cd usb-disk)

# The cases: NAME PHASE KIND DEVICE PARTITION (see guest_init.sh). The
# device names go through /dev/sdX and /dev/srN without sg, /dev/sgN with it.
cases=(
  "list            nosg list    -             -"
  "lsi_disk_all    nosg hybrid  lsi-disk      all"
  "lsi_cd_row      nosg hybrid  lsi-cd        1"
  "virtio_disk_far nosg hybrid  virtio-disk   Far"
  "virtio_cd_all   nosg hybrid  virtio-cd     all"
  "ide_cd_name     nosg hybrid  ide-cd        Second"
  "usb_disk_row    nosg hybrid  usb-disk      0"
  "lsi_disk_whole  nosg extract lsi-disk      all"
  "virtio_cd_part  nosg extract virtio-cd     Second"
  "ide_cd_whole    nosg extract ide-cd        all"
  "usb_disk_whole  nosg extract usb-disk      all"
  "floppy          nosg extract A:            -"
  "info_lsi_cd     nosg info    lsi-cd        -"
  "info_usb_json   nosg json    usb-disk      -"
  "path_sd         nosg hybrid  sd:lsi-disk   Third"
  "path_sr         nosg hybrid  sr:virtio-cd  First"
  "list_sg         sg   list    -             -"
  "path_sg_cd      sg   hybrid  sg:lsi-cd     all"
  "path_sg_disk    sg   extract sg:virtio-disk Near"
  "path_sr_sg      sg   hybrid  sr:ide-cd     0"
  "path_sd_sg      sg   hybrid  sd:usb-disk   Second"
  "usb_disk_sg     sg   hybrid  usb-disk      all"
)

# The initramfs: busybox, the modules in the order modules.dep asks, the two
# programs with the libraries ldd names, the cases.
root=$WORK/root
mkdir -p "$root"/{bin,lib,lib64,modules,proc,sys,dev}
cp "$busybox" "$root/bin/busybox"
cp "$here/guest_init.sh" "$root/init"
chmod +x "$root/init"
for program in "$cli" "$dskgrab"; do
  strip -o "$root/bin/${program##*/}" "$program" 2>/dev/null || cp "$program" "$root/bin/"
  for library in $(ldd "$program" | grep -o '/[^ ]*'); do
    mkdir -p "$root${library%/*}"
    cp -L "$library" "$root$library"
  done
done
cp plain.iso "$root/"

declare -A deps=() path_of=() loaded=()
while IFS=: read -r path rest; do
  name=${path##*/}
  name=${name%%.ko*}
  name=${name//-/_}
  path_of[$name]=$path
  deps[$name]=$rest
done <"$modules/modules.dep"
order=()
add_module() {  # NAME
  local name=${1##*/} dep
  name=${name%%.ko*}
  name=${name//-/_}
  [[ -n ${loaded[$name]:-} ]] && return
  loaded[$name]=1
  if [[ -z ${path_of[$name]:-} ]]; then
    grep -qE "/${name//_/[-_]}\.ko$" "$modules/modules.builtin" && return
    skip "kernel $version has no module $name"
  fi
  for dep in ${deps[$name]}; do add_module "$dep"; done
  order+=("$name")
}
# The USB disk is scanned at once, not after usb-storage's usual second.
declare -A module_args=([usb_storage]="delay_use=0")
module_file() {  # NAME: copies it into the initramfs, uncompressed
  local from=$modules/${path_of[$1]} to=$root/modules/$1.ko
  case $from in
    *.ko.xz) xz -dc "$from" >"$to" ;;
    *.ko.zst) zstd -qdc "$from" >"$to" ;;
    *.ko.gz) gzip -dc "$from" >"$to" ;;
    *) cp "$from" "$to" ;;
  esac
  echo "$1.ko ${module_args[$1]:-}"
}
for module in virtio_pci virtio_blk sd_mod sr_mod sym53c8xx virtio_scsi ata_piix \
  xhci_pci usb_storage floppy; do
  add_module "$module"
done
for module in "${order[@]}"; do module_file "$module"; done >"$root/modules/order"
order=()
add_module sg
for module in "${order[@]}"; do module_file "$module"; done >"$root/modules/sg"
for drive in "${drive_names[@]}"; do echo "$drive|${product_of[$drive]}"; done >"$root/drives"
printf '%s\n' "${cases[@]}" >"$root/cases"
(cd "$root" && find . | cpio -o -H newc --quiet) >initramfs.cpio

# KVM when it runs this kernel: a machine whose /dev/kvm opens but does not
# run guests (some nested set-ups) hangs there, so the kernel is booted
# alone first and must reach its panic (no root) within 5 s.
accel=${ZELVORANT_VM_ACCEL:-}
if [[ -z $accel ]]; then
  accel=tcg
  if [[ -r /dev/kvm && -w /dev/kvm ]]; then
    probe=$(timeout 5 qemu-system-x86_64 -machine pc -accel kvm -m 256 -nographic -no-reboot \
      -nic none -kernel "$kernel" -append "console=ttyS0 panic=-1" </dev/null 2>&1 || true)
    [[ $probe == *"Kernel panic"* ]] && accel=kvm
  fi
fi
# The machine. The drives are read-only: the jobs only read.
qemu=(qemu-system-x86_64 -machine pc -accel "$accel" -m 512 -smp 1 -nographic -no-reboot
  -nic none -kernel "$kernel" -initrd initramfs.cpio
  -append "console=ttyS0 panic=-1 loglevel=4"
  -device "lsi53c895a,id=lsi" -device "virtio-scsi-pci,id=vscsi" -device "qemu-xhci,id=xhci"
  -drive "if=floppy,index=0,format=raw,readonly=on,file=$WORK/floppy.img"
  -drive "if=none,id=results,file=$WORK/results.img,format=raw" -device "virtio-blk-pci,drive=results")
add_drive() {  # NAME DEVICE,PROPERTIES: drive NAME's image as that device
  local media=
  [[ $1 == *-cd ]] && media=,media=cdrom
  qemu+=(-drive "if=none,id=$1,file=$WORK/${image_of[$1]},format=raw,readonly=on$media"
    -device "$2,drive=$1")
}
scsi_names() {  # NAME: the INQUIRY names QEMU's SCSI drives answer with
  echo "vendor=ZELVVM,product=${product_of[$1]}"
}
add_drive lsi-disk "scsi-hd,bus=lsi.0,scsi-id=${target_of[lsi-disk]},$(scsi_names lsi-disk)"
add_drive lsi-cd "scsi-cd,bus=lsi.0,scsi-id=${target_of[lsi-cd]},$(scsi_names lsi-cd)"
add_drive virtio-disk "scsi-hd,bus=vscsi.0,channel=0,scsi-id=${target_of[virtio-disk]},lun=0,$(scsi_names virtio-disk)"
add_drive virtio-cd "scsi-cd,bus=vscsi.0,channel=0,scsi-id=${target_of[virtio-cd]},lun=0,$(scsi_names virtio-cd)"
add_drive ide-cd "ide-cd,bus=ide.1,unit=0"
add_drive usb-disk "usb-storage,bus=xhci.0"
boot=$SECONDS
rc=0
timeout "${ZELVORANT_VM_TIMEOUT:-300}" "${qemu[@]}" </dev/null >"$console" 2>qemu.err || rc=$?
guest_seconds=$((SECONDS - boot))
if ((rc)) || ! grep -q "guest: results written" "$console"; then
  echo "FAIL: the guest did not finish (QEMU exit $rc after $guest_seconds s); its console:" >&2
  cat qemu.err "$console" >&2
  exit 1
fi
# The guest's results stay in the build folder beside its console.
rm -rf "$build/results"
mkdir "$build/results"
tar -xf results.img -C "$build/results"
ln -s "$build/results" results

# The references: the same jobs on the image files. Hybrids come from the
# file job; extractions and descriptions from the image on the simulated bus.
# The file job weighs the whole file against a CD-ROM's capacity, even when
# one partition is taken: the big disk's file needs the OK.
reference_hybrid() {  # IMAGE PARTITION OUT
  cp plain.iso "$3"
  run_cli 0 --from-file "$1" --to-iso "$3" --partition "$2" --yes
}
reference_drive() {  # NAME PARTITION|- ARGS...: the job on drive NAME's image
  local name=$1 part=$2 kind=disk
  shift 2
  [[ $name == *-cd ]] && kind=cdrom
  [[ $part == - ]] || set -- "$@" --partition "$part"
  run_cli 0 --attach "$kind:0:0=${image_of[$name]}" --from-drive "$([[ $kind == disk ]] && echo A000 || echo C000)" "$@"
}
# Every HFS partition of IMAGE holds the files of the folder its volume's
# name says (each volume was named after its map entry).
declare -A folder_of=([First]=vol1 [Second]=vol2 [Third]=vol3 [Near]=vol1 [Far]=vol3)
check_volumes() {  # IMAGE
  local n count label
  count=$(partx --show -g -o TYPE "$1" | awk '$1 == "Apple_HFS"' | wc -l)
  ((count > 0)) || fail "$1 has no Apple_HFS partition"
  for ((n = 1; n <= count; n++)); do
    label=$(volume_name "$1" "$n")
    rm -rf dump dump.lst
    dump_volume "$1" "$n" dump
    diff -r "${folder_of[$label]:-none}" dump >/dev/null || fail "volume $label of $1: its files differ"
  done
}
# The description without the device's own name, which differs.
without_name() {  # FILE
  if [[ $1 == *.json ]]; then
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); d.pop("file"); print(json.dumps(d, sort_keys=True))' "$1"
  else
    sed '1s/^[^:]*://' "$1"
  fi
}

check_case() {  # NAME KIND DEVICE PARTITION
  local name=$1 kind=$2 device=$3 part=$4 drive=${3#*:} out=results/$1
  [[ -f $out.rc ]] || fail "no result"
  [[ $(cat "$out.rc") == 0 ]] || fail "exit $(cat "$out.rc") on $(cat "$out.drive"): $(head -c 400 "$out.err")"
  # The completion line names what was written: a hybrid, or an HFS image.
  [[ $kind != hybrid ]] || grep -q " is now a Mac/PC hybrid: " "$out.out" || fail "no completion message"
  [[ $kind != extract ]] || grep -q " is now an HFS image: " "$out.out" || fail "no completion message"
  case $kind in
    list)
      # Each drive once, at its target, on a kernel host adapter; sg changes
      # the nodes, not the numbers.
      for drive in "${drive_names[@]}"; do
        local rows
        rows=$(awk -v product="${product_of[$drive]}" '/^Host adapter/ { host = $3 }
          /^Driver:/ { driver = $0 } /^ *[0-7] / && index($0, product) { print host, $1, driver }' \
          "$out.out")
        [[ $rows == ?" ${target_of[$drive]} Driver: LINUX SG_IO" ]] ||
          fail "$drive (target ${target_of[$drive]}) is listed as: ${rows:-nothing}"
      done
      [[ $name == list ]] || cmp -s results/list.out "$out.out" || fail "the list differs from the one without sg"
      ;;
    hybrid)
      reference_hybrid "${image_of[$drive]}" "$part" want.iso
      cmp -s want.iso "$out.iso" || fail "the hybrid differs from the file job's"
      check_iso_files "$out.iso" iso
      check_volumes "$out.iso"
      ;;
    extract)
      if [[ $device == A: ]]; then
        ZELVORANT_FLOPPY_IMAGE=$WORK/floppy.img run_cli 0 --from-drive A: --to-hfs-image want.img
        expect_partx "$out.img" 2 "64 2880 Apple_HFS MacOS"
        same_bytes floppy.img 0 "$out.img" 32768 "$(size_of floppy.img)"
      else
        reference_drive "$drive" "$part" --to-hfs-image want.img
        check_volumes "$out.img"
      fi
      cmp -s want.img "$out.img" || fail "the HFS image differs from the job's on the image file"
      ;;
    info | json)
      local json=()
      [[ $kind == json ]] && json=(--json)
      reference_drive "$drive" - --info "${json[@]}"
      mv out.txt "want.$kind"
      cp "$out.out" "got.$kind"
      [[ $(without_name "want.$kind") == "$(without_name "got.$kind")" ]] ||
        fail "the description differs: $(diff "want.$kind" "got.$kind" | head -20)"
      ;;
  esac
}

printf '\n%-16s %-5s %-8s %-26s %-7s %7s  %s\n' case sg job drive answer seconds result
failed=0
for row in "${cases[@]}"; do
  read -r name phase kind device part <<<"$row"
  result=ok
  check_output=$( (check_case "$name" "$kind" "$device" "$part") 2>&1) || {
    result="FAILED: $(grep -m1 '^FAIL' <<<"$check_output" | cut -c7-)"
    failed=$((failed + 1))
  }
  seconds=-
  [[ -f results/$name.time ]] && seconds=$(awk '{ printf "%.1f", $2 - $1 }' "results/$name.time")
  drive=$(cat "results/$name.drive" 2>/dev/null || true)
  printf '%-16s %-5s %-8s %-26s %-7s %7s  %s\n' "$name" "$phase" "$kind" \
    "$device${drive:+ ($drive)}" "$part" "$seconds" "$result"
done
printf '\nkernel %s, %s; guest ready after %s s, QEMU ran %d s; whole test %d s\n' \
  "$version" "${accel^^}" "$(cat results/ready.time 2>/dev/null || echo ?)" "$guest_seconds" \
  $((SECONDS - started))
echo "The guest's device list:"
sed 's/^/  /' results/list.out
((failed == 0)) || {
  echo "FAIL: $failed of ${#cases[@]} cases (the guest's console and results: $build)" >&2
  exit 1
}
echo "real kernel: ok"
