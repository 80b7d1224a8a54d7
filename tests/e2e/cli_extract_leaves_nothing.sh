#!/usr/bin/env bash
# An extraction's new file: its owner's alone while it is written, never
# left behind by a stop, and removed by the next run when a kill left it.
# On Linux it has no name until the rename; ZELVORANT_TEST_NO_TMPFILE takes
# the named way, NAME.XXXXXXXXN.part, that the other systems take.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

# A disk of 1 GiB, zeros behind its map: long enough to copy for a signal to
# come in the middle.
blocks=$((2048 * 1024))
new_map big.img $blocks Apple_partition_map:Apple:1:63 Apple_HFS:Big:64:$((blocks - 64))
new_map small.img 200 Apple_partition_map:Apple:1:63 Apple_HFS:Small:64:136

parts() { find . -maxdepth 1 -name '*.part' -printf '%f %m\n' | sort; }

# The new file, once the job has it open: its name in the folder, or
# "unnamed" while it has none.
new_file_of() {  # PID
  local link
  for _ in $(seq 1000); do
    for link in /proc/"$1"/fd/*; do
      case $(readlink "$link" 2>/dev/null) in
        "$WORK"/out.img.*.part) basename "$(readlink "$link")" && return ;;
        "$WORK/#"*) echo unnamed && return ;;
      esac
    done
    sleep 0.01
  done
  fail "the job never made its new file"
}

if ! on_wine; then
  # USR1 and ALRM stop the job as TERM does: the old file stays, nothing is
  # left beside it, and the status is 128 + the signal's number.
  for way in unnamed named; do
    for signal in USR1 ALRM KILL; do
      [[ $way == named || $signal != KILL ]] || continue
      rm -f ./*.part
      echo "an older file" >out.img
      chmod 640 out.img
      settings=()
      [[ $way == unnamed ]] || settings=(ZELVORANT_TEST_NO_TMPFILE=1)
      env "${settings[@]}" "$CLI" --attach disk:0:3=big.img --from-drive A030 \
        --to-hfs-image out.img --partition all </dev/null >job.out 2>job.err &
      pid=$!
      new_file=$(new_file_of $pid)
      [[ $way == named ]] || [[ $new_file == unnamed ]] || fail "$way: the new file is $new_file"
      if [[ $way == named ]]; then
        [[ $(parts) == "$new_file 600" ]] || fail "$way: while the job runs: $(parts)"
      else
        [[ -z $(parts) ]] || fail "$way: while the job runs: $(parts)"
      fi
      kill -s $signal $pid
      rc=0
      wait $pid 2>/dev/null || rc=$?
      [[ $rc == $((128 + $(kill -l $signal))) ]] || fail "SIG$signal ($way): exit $rc"
      [[ $(<out.img) == "an older file" ]] || fail "SIG$signal ($way): the old file changed"
      if [[ $signal == KILL ]]; then
        [[ $(parts) == "$new_file 600" ]] || fail "SIGKILL: $(parts)"
        continue
      fi
      [[ $(<job.err) == *"${TEXT[stopped]}${TEXT[hfs_image_kept]}"* ]] || fail "SIG$signal: $(<job.err)"
      [[ -z $(parts) ]] || fail "SIG$signal ($way) left $(parts)"
    done
  done

  # The next run in the folder removes what the kill left, and any other
  # such file no process holds; one that another program holds is kept, as
  # is a name of another kind.
  [[ -n $(parts) ]] || fail "no file left by the kill"
  echo "held" >"other.iso.0123abcd7.part"
  echo "stale" >"other.iso.89abcdef15.part"
  echo "not ours" >"download.part"
  rm -f locked
  python3 - other.iso.0123abcd7.part <<'PY' &
import fcntl, sys, time
with open(sys.argv[1], "rb") as f:
    fcntl.flock(f, fcntl.LOCK_SH)
    open("locked", "w").close()
    time.sleep(60)
PY
  holder=$!
  for _ in $(seq 1000); do [[ -e locked ]] && break; sleep 0.01; done
  run_cli 0 --attach disk:0:3=small.img --from-drive A030 --to-hfs-image new.img --partition all
  expect_completed
  cmp -s small.img new.img || fail "the extraction beside the leftovers"
  [[ $(parts) == $'download.part 644\nother.iso.0123abcd7.part 644' ]] ||
    fail "after the next run: $(parts)"
  kill $holder
  wait $holder 2>/dev/null || true

  # The image gets the old file's access rights, never more; a new one a new
  # file's usual ones.
  for mode in 640 600 604; do
    echo "old" >out.img
    chmod $mode out.img
    run_cli 0 --attach disk:0:3=small.img --from-drive A030 --to-hfs-image out.img --partition all
    [[ $(stat -c %a out.img) == "$mode" ]] || fail "over a file of mode $mode: $(stat -c %a out.img)"
  done
  for mask in 022 077; do
    rm -f out.img
    (
      umask $mask
      run_cli 0 --attach disk:0:3=small.img --from-drive A030 --to-hfs-image out.img --partition all
    )
    [[ $(stat -c %a out.img) == $(printf '%o' $((0666 & ~0$mask))) ]] ||
      fail "a new image under umask $mask: $(stat -c %a out.img)"
  done
fi

# A stale new file is removed on Windows too: no handle holds it.
echo "stale" >"out.img.0a1b2c3d4.part"
run_cli 0 --attach disk:0:3=small.img --from-drive A030 --to-hfs-image out.img --partition all
cmp -s small.img out.img || fail "the extraction"
[[ ! -e out.img.0a1b2c3d4.part ]] || fail "the stale new file was kept"

echo "PASS cli_extract_leaves_nothing"
