#!/usr/bin/env bash
# check_exports.sh OBJDUMP PROGRAM
# The program must export exactly the eight request routines, by name, at
# ordinals 2 to 9, as other programs that call into it expect them.
set -euo pipefail
objdump=$1 program=$2

expected="2 _aspi_init
3 _aspi_host_inq
4 _aspi_devtype
5 _aspi_rw
6 _aspi_reset
7 _aspi_lock
8 _aspi_readcap
9 _cdrom_rw"

table=$("$objdump" -p "$program")
# objdump lists the names with their index into the address table:
#   Export Address Table -- Ordinal Base 2
#   ...
#   [Ordinal/Name Pointer] Table
#   	[   3] _aspi_rw
# and a name's ordinal is its index plus the base.
actual=$(printf '%s\n' "$table" | awk '
  /Ordinal Base/ { base = $NF }
  /\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
  names && /^[[:space:]]*$/ { names = 0 }
  names { gsub(/[][]/, " "); print $1 + base, $2 }' | sort -n)

if [[ "$actual" != "$expected" ]]; then
  echo "FAIL: $program exports"
  printf '%s\n' "$actual" | sed 's/^/  /'
  echo "expected"
  printf '%s\n' "$expected" | sed 's/^/  /'
  exit 1
fi
echo "ok: $program exports the eight routines at ordinals 2 to 9"
