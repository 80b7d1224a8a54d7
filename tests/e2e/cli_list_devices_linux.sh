#!/usr/bin/env bash
# --list-devices on the machine's own SCSI pass-through, and on a fake sysfs
# tree: an empty bus is reported in one line, the kernel's hosts come before
# the simulated bus, and a device that cannot be opened is named with why.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

truncate -s 1M disk.img

# The machine itself. These test machines have no SCSI devices; elsewhere the
# listing depends on what is plugged in, so only the exit status is checked.
real_devices=$(find /sys/class/scsi_generic /sys/bus/scsi/devices -mindepth 1 -maxdepth 1 \
  2>/dev/null | head -1 || true)
(
  unset ZELVORANT_SYSFS
  run_cli 0 --list-devices
  if [[ -z $real_devices ]]; then
    [[ $(cat out.txt) == "No SCSI host adapter answers." ]] || fail "empty bus: $(cat out.txt)"
    [[ ! -s err.txt ]] || fail "empty bus: something on stderr"
    run_cli 0 --attach disk:0:3=disk.img --list-devices
    head -2 out.txt | tr '\n' '|' | grep -qx "Host adapter 0|Driver: SIMULATED BUS|" ||
      fail "--attach did not land on host adapter 0: $(cat out.txt)"
  fi
)

# A fake machine: kernel host 4 with a CD-ROM (an sg node) and a disk whose
# node is missing, and a device at LUN 1 that ASPI cannot address.
sys=$WORK/sys
dev=$WORK/dev
mkdir -p "$dev"
add_device() {  # H:C:T:L TYPE CLASS/NAME
  local place=$sys/devices/host${1%%:*}/$1
  mkdir -p "$place" "$sys/class/$3"
  echo "$2" >"$place/type"
  ln -s "$place" "$sys/class/$3/device"
}
add_device 4:0:2:0 5 scsi_generic/sg0
add_device 4:0:5:0 0 block/sda
add_device 4:0:6:1 0 scsi_generic/sg1
touch "$dev/sg0" "$dev/sg1"
export ZELVORANT_SYSFS=$sys ZELVORANT_DEVDIR=$dev

run_cli 0 --list-devices
head -3 out.txt | tr '\n' '|' | grep -qx "Host adapter 0|Driver: LINUX SG_IO|Id Vendor .*|" ||
  fail "the kernel's host is not adapter 0: $(cat out.txt)"
grep -qE '^ 2( |$)' out.txt || fail "the CD-ROM at target 2 is not listed: $(cat out.txt)"
grep -qE '^ 6( |$)' out.txt && fail "a LUN 1 device is listed: $(cat out.txt)"
grep -qxF "$dev/sda (host adapter 0, target 5): No such file or directory" out.txt ||
  fail "no reason for the missing node: $(cat out.txt)"

# The simulated bus follows the kernel's host.
run_cli 0 --attach disk:0:3=disk.img --list-devices
grep -qx "Host adapter 1" out.txt || fail "no host adapter 1: $(cat out.txt)"
sed -n '/^Host adapter 1$/,$p' out.txt | grep -qx "Driver: SIMULATED BUS" ||
  fail "the simulated bus is not adapter 1: $(cat out.txt)"
sed -n '/^Host adapter 1$/,$p' out.txt | grep -qE '^ 3 ZELVRANT SIM DISK' ||
  fail "the attached disk is not on adapter 1: $(cat out.txt)"

# Only the CD-ROMs: the disk-less answer keeps the reasons.
run_cli 0 --list-devices cdrom
grep -qF "(host adapter 0, target 5)" out.txt || fail "cdrom listing lost the reason"
echo "ok"
