#!/usr/bin/env bash
# An extraction stopped by USR1 or ALRM leaves nothing beside its target, the
# new file unnamed (Linux) or named (ZELVORANT_TEST_NO_TMPFILE: the way of
# the other systems); a SIGKILL leaves the named one. Wine passes no
# signals on.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

new_map big.img $((2048 * 1024)) Apple_partition_map:Apple:1:63 Apple_HFS:Big:64:2097088
new_map small.img 200 Apple_partition_map:Apple:1:63 Apple_HFS:Small:64:136
parts() { find . -maxdepth 1 -name '*.part' -printf '%f %m\n' | sort; }

echo "old" >out.img
for run in unnamed:USR1 unnamed:ALRM named:USR1 named:ALRM named:KILL; do
  ! on_wine || break
  signal=${run#*:}
  [[ $run == named* ]] && export ZELVORANT_TEST_NO_TMPFILE=1
  "$CLI" --attach disk:0:3=big.img --from-drive A030 --to-hfs-image out.img --partition all \
    </dev/null >job.out 2>job.err &
  pid=$!
  # Until the job has its new file open, named or "#N (deleted)".
  until [[ -n $(find /proc/$pid/fd -lname "$WORK/out.img.*part" -o -lname "$WORK/#*") ]]; do
    kill -0 $pid || fail "$run: the job ended before its new file was seen: $(<job.err)"
    sleep 0.01
  done
  kill -s "$signal" $pid
  rc=0 && wait $pid 2>/dev/null || rc=$?
  [[ $rc == $((128 + $(kill -l "$signal"))) ]] || fail "$run: exit $rc"
  [[ $(<out.img) == old ]] || fail "$run: the old file changed"
  [[ $signal == KILL ]] && break
  [[ $(<job.err) == *"${TEXT[stopped]}${TEXT[hfs_image_kept]}"* ]] || fail "$run: $(<job.err)"
  [[ -z $(parts) ]] || fail "$run left $(parts)"
done
unset ZELVORANT_TEST_NO_TMPFILE

# The next run removes them, but not one another program holds.
echo "stale" >out.img.0a1b2c3d4.part
echo "held" >held.iso.0123abcd7.part
on_wine || [[ $(parts) == *" 600"* ]] || fail "SIGKILL left no new file"
on_wine || { exec 9<held.iso.0123abcd7.part && flock -s 9; }
run_cli 0 --attach disk:0:3=small.img --from-drive A030 --to-hfs-image out.img --partition all
cmp -s small.img out.img || fail "the extraction beside the leftovers"
on_wine || [[ $(parts) == "held.iso.0123abcd7.part 644" ]] || fail "after the next run: $(parts)"
! on_wine || [[ -z $(parts) ]] || fail "after the next run: $(parts)"
echo "PASS cli_extract_leaves_nothing"
