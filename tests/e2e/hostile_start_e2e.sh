#!/bin/bash
# Both programs started as a script or an attacker might start them: standard
# streams closed, a reader that goes away, files that are no regular files, a
# program file without end, a full disk. Each row: the message, the exit code,
# what the receiver holds afterwards (against a run started normally), and an
# end within a time bound. Virtual clock, no terminal.
# Usage: hostile_start_e2e.sh TARVEL MORREX
set -u
tarvel=$1
morrex=$2
work=$(mktemp -d /tmp/hostile_start_XXXXXX)
trap 'rm -rf "$work"' EXIT
export ORN_VIRTUAL_CLOCK=1
# Seconds any row may take: a hang ends in timeout's 124.
BOUND=20
failures=0

fail() {
  echo "FAIL [$row]: $*"
  failures=$((failures + 1))
}

# The bytes that reached a receiver, without their times.
wire_tx() { awk '$2 == "TX" { printf "%s ", $3 }' "$1/wire.log" 2>/dev/null; }

expect_code() { [ "$code" = "$1" ] || fail "exit code $code, not $1"; }
expect_output() { grep -qF -- "$1" "$work/out" || fail "no '$1' in: $(head -c 300 "$work/out")"; }
expect_nothing_sent() { [ -z "$(wire_tx "$1")" ] || fail "bytes reached the receiver: $(wire_tx "$1" | head -c 80)"; }
expect_same_receiver() {
  cmp -s "$1/$3" "$2/$3" || fail "$3 differs from the normal run's"
  [ "$(wire_tx "$1")" = "$(wire_tx "$2")" ] || fail "the wire differs from the normal run's (stray bytes)"
}

# ---------------------------------------------------------------- morrex

# Two pages, a single-byte record and the end record.
{
  printf '8\x5A'
  for page in 0 1; do
    printf "u\\x0$page"
    head -c 64 /dev/urandom
  done
  printf '\xCC3'
} >"$work/fw.bin"

row="morrex, started normally"
timeout $BOUND "$morrex" "rsim:$work/m0" "$work/fw.bin" >"$work/out" 2>&1
code=$?
expect_code 0
expect_output "fertig"

row="morrex, standard output closed"
timeout $BOUND "$morrex" "rsim:$work/m1" "$work/fw.bin" >&-
code=$?
expect_code 0
expect_same_receiver "$work/m1" "$work/m0" flash.bin

row="morrex, all three standard streams closed"
timeout $BOUND "$morrex" "rsim:$work/m2" "$work/fw.bin" <&- >&- 2>&-
code=$?
expect_code 0
expect_same_receiver "$work/m2" "$work/m0" flash.bin

row="morrex, its reader goes away after 140 bytes"
timeout $BOUND "$morrex" "rsim:$work/m3" "$work/fw.bin" | head -c 140 >/dev/null
code=${PIPESTATUS[0]}
expect_code 0
expect_same_receiver "$work/m3" "$work/m0" flash.bin

mkdir "$work/firmware.d"
mkfifo "$work/fifo.bin"
{
  printf '8U'
  head -c 3000000 /dev/zero | tr '\0' '\314'
} >"$work/huge.bin"
# program file | exit code | message
while IFS='|' read -r file want message; do
  row="morrex, program file $file"
  rm -rf "$work/mx"
  timeout $BOUND "$morrex" "rsim:$work/mx" "$file" >"$work/out" 2>&1
  code=$?
  expect_code "$want"
  expect_output "$message"
  expect_nothing_sent "$work/mx"
  [ ! -e "$work/mx/flash.bin" ] || fail "the flash was written"
done <<EOF
$work/firmware.d|2|$work/firmware.d: Is a directory
$work/fifo.bin|2|$work/fifo.bin: Not a regular file
/dev/zero|2|/dev/zero: Not a regular file
$work/huge.bin|2|$work/huge.bin: Programmdatei zu groß (mehr als 1048576 Bytes)
EOF

# ---------------------------------------------------------------- tarvel

for ((cv = 1; cv <= 10; cv++)); do printf 'CV %d = %d\n' $cv $((50 + cv)); done >"$work/data.txt"

row="tarvel, started normally"
printf 'pq' | timeout $BOUND "$tarvel" "sim:$work/t0" "$work/data.txt" >"$work/out" 2>&1
code=${PIPESTATUS[1]}
expect_code 0
grep -q '^CV  10  =  60' "$work/t0/cvs.txt" || fail "the normal run did not program CV 10"

row="tarvel, standard output and error closed"
printf 'pq' | timeout $BOUND "$tarvel" "sim:$work/t1" "$work/data.txt" >&- 2>&-
code=${PIPESTATUS[1]}
expect_code 0
expect_same_receiver "$work/t1" "$work/t0" cvs.txt

row="tarvel, standard input closed: every key is ESC"
timeout $BOUND "$tarvel" "sim:$work/t2" "$work/data.txt" <&- >"$work/out" 2>&1
code=$?
expect_code 0
grep -q '^CV   1  =   0' "$work/t2/cvs.txt" || fail "a CV changed without a key"

row="tarvel, its reader goes away during a read-out"
printf 'aq' | timeout $BOUND "$tarvel" "sim:$work/t3" "$work/readout.txt" | head -c 100 >/dev/null
code=${PIPESTATUS[1]}
expect_code 0
[ "$(wc -l <"$work/readout.txt")" -eq 398 ] || fail "the read-out file has $(wc -l <"$work/readout.txt") lines"

mkdir "$work/sub"
mkfifo "$work/fifo.txt"
ln -s "$work/fifo.txt" "$work/link.txt"
# One line of 20 MB without a line end: read through, refused whole.
head -c 20000000 /dev/zero | tr '\0' x >"$work/one_line.txt"
# keys | data file | message (each followed by q: the name is forgotten, the menu is back)
while IFS='|' read -r keys file message; do
  row="tarvel, $keys on $file"
  rm -rf "$work/tx"
  printf '%sq' "$keys" | timeout $BOUND "$tarvel" "sim:$work/tx" "$file" >"$work/out" 2>&1
  code=${PIPESTATUS[1]}
  expect_code 0
  expect_output "$message"
  [ "$(awk '$2 == "TX" && $3 == "AE"' "$work/tx/wire.log" | wc -l)" -eq 0 ] || fail "a CV was written"
done <<EOF
p|$work/sub|$work/sub: Is a directory
a|$work/sub|$work/sub: Is a directory
p|$work/fifo.txt|$work/fifo.txt: Not a regular file
a|$work/fifo.txt|$work/fifo.txt: Not a regular file
p|/dev/zero|/dev/zero: Not a regular file
a|/dev/full|/dev/full: Not a regular file
p|$work/link.txt|$work/link.txt: Not a regular file
p|$work/one_line.txt|Zeile 1 zu lang (mehr als 999 Zeichen): nicht programmiert
EOF

row="tarvel, a read-out onto a full disk names the write's own error"
(
  ulimit -f 4
  trap '' XFSZ
  # The receiver in memory: its own files would meet the limit too.
  printf 'aq' | exec timeout $BOUND "$tarvel" "sim:" "$work/full.txt"
) 2>&1 | cat >"$work/out"
code=${PIPESTATUS[0]}
expect_code 0
expect_output "$work/full.txt: File too large"
expect_output "Die gelesenen Zeilen stehen in $work/full.txt.teil, $work/full.txt ist unverändert."
[ ! -e "$work/full.txt" ] || fail "a cut read-out was put under the name itself"

if [ $failures -gt 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo PASS
