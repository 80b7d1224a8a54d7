#!/bin/busybox sh
# shellcheck shell=sh
# The guest's half of tests/vm/real_kernel.sh: the /init of the initramfs it
# makes. Loads the kernel's own drivers (without sg), waits for the emulated
# drives, runs every case of /cases with zelvorant-cli, loads sg, runs the
# cases marked for it, writes everything to the results disk (/dev/vda, a tar
# archive the host unpacks) and powers off. It judges nothing: the host
# checks every result.
#
# /cases, one case a line:  NAME PHASE KIND DEVICE PARTITION
#   PHASE      nosg or sg (sg is loaded between the two)
#   KIND       list, hybrid (onto a copy of /plain.iso), extract, info, json
#   DEVICE     a drive name of /drives (its specifier, as --list-devices shows
#              it), sd:NAME, sr:NAME or sg:NAME (its node in /dev), or A:
#   PARTITION  the --partition answer, or - for none
# /drives, one drive a line:  NAME|PRODUCT (the product its INQUIRY answers)
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /out /tmp

say() { echo "guest: $*"; }
uptime_now() { cut -d' ' -f1 /proc/uptime; }

# WHAT COUNT: waits up to 60 s for COUNT entries matching the glob WHAT.
wait_for() {
  tries=0
  while [ "$(ls -d $1 2>/dev/null | wc -l)" -lt "$2" ] && [ $tries -lt 600 ]; do
    usleep 100000
    tries=$((tries + 1))
  done
  say "$(ls -d $1 2>/dev/null | wc -l) of $2 $1 after $((tries / 10)) s"
}

load_modules() {  # LIST
  while read -r module args; do
    # shellcheck disable=SC2086  # the module's parameters, one word each
    insmod "/modules/$module" $args || say "insmod $module failed"
  done <"$1"
}

drives=$(wc -l </drives)
load_modules /modules/order
wait_for '/sys/bus/scsi/devices/*:*:*:*/block/*' "$drives"
wait_for /dev/fd0 1
echo "$(uptime_now)" >/out/ready.time

# The specifier of drive NAME from the last listing: "Host adapter H" heads
# each adapter's rows, which begin with the target.
specifier_of() {  # NAME
  product=$(grep "^$1|" /drives | cut -d'|' -f2)
  letter=A
  case $1 in *-cd) letter=C ;; esac
  awk -v product="$product" -v letter=$letter '
    /^Host adapter [0-9]+$/ { host = $3 }
    /^ *[0-7] / && index($0, product) { print letter host $1 "0"; exit }' /tmp/list.txt
}

# The /dev node (block or scsi_generic, as KIND says) of drive NAME.
node_of() {  # KIND NAME
  product=$(grep "^$2|" /drives | cut -d'|' -f2)
  for device in /sys/bus/scsi/devices/*:*:*:*; do
    [ "$(sed 's/ *$//' "$device/model")" = "$product" ] || continue
    ls "$device/$1" 2>/dev/null | head -1 | sed 's|^|/dev/|'
  done
}

resolve() {  # DEVICE
  case $1 in
    A: | B:) echo "$1" ;;
    sd:* | sr:*) node_of block "${1#*:}" ;;
    sg:*) node_of scsi_generic "${1#*:}" ;;
    *) specifier_of "$1" ;;
  esac
}

run_phase() {  # PHASE
  wanted=$1
  while read -r name phase kind device partition; do
    [ "$phase" = "$wanted" ] || continue
    set --
    [ "$partition" = - ] || set -- --partition "$partition"
    drive=$(resolve "$device")
    echo "$drive" >"/out/$name.drive"
    start=$(uptime_now)
    case $kind in
      list) zelvorant-cli --list-devices ;;
      hybrid)
        cp /plain.iso "/out/$name.iso"
        zelvorant-cli --from-drive "$drive" --to-iso "/out/$name.iso" "$@"
        ;;
      extract) zelvorant-cli --from-drive "$drive" --to-hfs-image "/out/$name.img" "$@" ;;
      info) zelvorant-cli --info --from-drive "$drive" ;;
      json) zelvorant-cli --info --from-drive "$drive" --json ;;
    esac </dev/null >"/out/$name.out" 2>"/out/$name.err"
    echo $? >"/out/$name.rc"
    echo "$start $(uptime_now)" >"/out/$name.time"
    [ "$kind" = list ] && cp "/out/$name.out" /tmp/list.txt
    say "$name: $(cat "/out/$name.rc") ($drive)"
  done </cases
}

run_phase nosg
load_modules /modules/sg
wait_for '/sys/class/scsi_generic/*' "$drives"
run_phase sg

dmesg >/out/dmesg.txt
(cd /out && tar cf /dev/vda .) && sync
say "results written"
poweroff -f
