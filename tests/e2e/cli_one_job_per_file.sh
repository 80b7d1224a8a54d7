#!/usr/bin/env bash
# One job at a time per file. Two jobs started together on one ISO image:
# exactly one completes, the other is refused as the file is in use, and the
# hybrid reads back with hfsutils. A file locked by another program (a
# record lock or the flock command's) refuses the job before anything is
# written, and the flock command sees a running job's lock. Ctrl-C and
# Ctrl-\ in the middle of the copy stop the job and leave the ISO image
# byte-identical.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

TRIALS=${TRIALS:-20}
sample_iso plain.iso 3000
random_file vol/Data 200000
# Big enough that the first job still holds the image when the second opens
# it: the copy and its sync take far longer than starting a process.
new_volume mac.img 32768 Mac
fill_volume mac.img 0 vol


# Starts both jobs at the same moment: each waits for its line on one FIFO,
# which this shell holds open, and both lines are written at once.
rm -f go
mkfifo go
exec 3<>go
race() {  # ISO
  local n pids=()
  for n in 1 2; do
    (read -r _ <go; exec "$CLI" --from-file mac.img --to-iso "$1") </dev/null \
      >"out$n.txt" 2>"err$n.txt" &
    pids+=($!)
  done
  printf 'go\ngo\n' >&3
  rc1=0 rc2=0
  wait "${pids[0]}" || rc1=$?
  wait "${pids[1]}" || rc2=$?
}

# Under Wine a process takes longer to start than the job to run; the job
# that runs while another holds the file is checked below instead.
! on_wine || TRIALS=0
overlapped=0 attempts=0
while ((overlapped < TRIALS)); do
  attempts=$((attempts + 1))
  ((attempts <= 3 * TRIALS)) || fail "only $overlapped of $attempts races overlapped"
  cp plain.iso race.iso
  race race.iso
  # The loser is the one that did not complete.
  if [[ $rc1 == 0 ]]; then won=1 lost=2 rc_lost=$rc2; else won=2 lost=1 rc_lost=$rc1; fi
  # shellcheck disable=SC2053  # a pattern on purpose
  [[ $(cat "out$won.txt") == $(completion_pattern completed_hybrid) ]] ||
    fail "no job completed (exits $rc1, $rc2): $(cat err1.txt err2.txt)"
  [[ $rc_lost == 1 && ! -s out$lost.txt ]] || fail "both jobs completed (exits $rc1, $rc2)"
  # A second job that started only after the first had ended meets a hybrid;
  # those races prove nothing and are run again.
  if [[ $(<"err$lost.txt") == *"${TEXT[already_hybrid]}"* ]]; then continue; fi
  [[ $(<"err$lost.txt") == "${TEXT[error_prefix]}race.iso: ${TEXT[iso_in_use]}" ]] || fail "the second job said: $(cat "err$lost.txt")"
  [[ $(volume_name race.iso 1) == Mac ]] || fail "the hybrid does not mount"
  hmount race.iso 1 >/dev/null && hcopy -r :Data data.out && humount
  cmp -s data.out vol/Data || fail "the file read back from the hybrid differs"
  overlapped=$((overlapped + 1))
done
echo "$TRIALS races with overlapping jobs in $attempts: one completed, one refused, each time"

# Another program's lock, on the ISO image or on the HFS source: a POSIX
# record lock, or the flock command's (exclusive or shared), which record
# locks do not see; the program takes both kinds.
if ! on_wine; then
  cp plain.iso held.iso
  for row in "lockf held.iso" "lockf mac.img" "-x held.iso" "-s held.iso" "-x mac.img"; do
    read -r how held <<<"$row"
    rm -f locked
    if [[ $how == lockf ]]; then
      python3 - "$held" <<'PY' &
import fcntl, sys, time
with open(sys.argv[1], "r+b") as f:
    fcntl.lockf(f, fcntl.LOCK_EX)
    open("locked", "w").close()
    time.sleep(60)
PY
    else
      (exec 9<"$held" && flock "$how" 9 && : >locked && exec sleep 60) &
    fi
    holder=$!
    for _ in $(seq 1000); do [[ -e locked ]] && break; sleep 0.01; done
    in_use=${TEXT[iso_in_use]}
    [[ $held == held.iso ]] || in_use=${TEXT[hfs_image_in_use]}
    expect_refused held.iso "$in_use" --from-file mac.img --to-iso held.iso
    kill "$holder"
    wait "$holder" 2>/dev/null || true
  done
  run_cli 0 --from-file mac.img --to-iso held.iso
fi

# A job started while another appends to the same ISO image is refused at
# once. Ctrl-C and Ctrl-\ in the middle of the append stop the first job,
# which puts the ISO image back byte for byte; left alone it completes.
# (Wine turns no signal into a console event: there the first job completes.)
busy_volume big.img 400
size=$(size_of plain.iso)
endings=(INT QUIT none)
! on_wine || endings=(none)
for signal in "${endings[@]}"; do
  cp plain.iso sig.iso
  "$CLI" --from-file big.img --to-iso sig.iso </dev/null >first.out 2>first.err &
  pid=$!
  for _ in $(seq 2000); do
    (($(size_of sig.iso) > size)) && break
    sleep 0.005
  done
  (($(size_of sig.iso) > size)) || fail "the first job never began its append"
  run_cli 1 --from-file mac.img --to-iso sig.iso
  [[ $(<err.txt) == "${TEXT[error_prefix]}sig.iso: ${TEXT[iso_in_use]}" ]] || fail "a job beside a running one said: $(<err.txt)"
  # The flock command sees the job's lock too.
  on_wine || ! flock -n -s sig.iso true || fail "flock took the ISO image a running job holds"
  rc=0
  if [[ $signal == none ]]; then
    wait "$pid" || rc=$?
    [[ $rc == 0 ]] || fail "the first job did not complete (exit $rc): $(<first.err)"
    [[ $(be32 sig.iso $((1024 + 12))) == $((400 * 2048)) ]] || fail "the hybrid's map is wrong"
    continue
  fi
  kill -s "$signal" "$pid"
  wait "$pid" || rc=$?
  # 128 + the signal's number, as a shell reports a program the signal ended.
  expected=$((128 + $(kill -l "$signal")))
  [[ $rc == "$expected" ]] || fail "SIG$signal: exit $rc, expected $expected"
  [[ $(<first.err) == *"${TEXT[stopped]}${TEXT[iso_left]}"* ]] || fail "SIG$signal: $(<first.err)"
  cmp -s sig.iso plain.iso || fail "SIG$signal: the ISO image changed"
done

echo "cli_one_job_per_file: all checks passed"
