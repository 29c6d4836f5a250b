#!/bin/bash
# tarvel with its adapter pulled (the receiver option unplug=N): it carries
# on as with a silent receiver and never hangs or spins. At the menu it sleeps;
# a read fails with "Lesefehler"; a read-out stops at the pull and says so;
# q (exit 4: the quit sequence did not go out) and a kill both end it with the
# terminal usable. Usage: unplug_tarvel_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup unplug_tarvel
# The start-up sends 14 bytes (41, F3..FE, 55), the line's check before the
# first read 160 (CV 1 bit by bit, 16 pairs of verifies), a read 36 (40 for
# a 255, whose complement is verified too: CV 1a).
startup=14
line_check=160
read_bytes=36

# Pulled right after the start-up, at the menu: the reader thread does not
# spin on the dead device (the main thread's key wait is a busy loop on the
# virtual clock by nature; unplug_idle_e2e measures it in real time), a read
# fails with "Lesefehler", and q ends it.
e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$work/r1?unplug=$startup"
e2e_wait_for "q oder ESC .. Beenden"
ticks=$(e2e_cpu_over 2 side)
[ "$ticks" -le 4 ] || e2e_fail "the reader used $ticks/100 s of CPU in 2 s at the menu"
e2e_keys e Enter Enter
e2e_wait_for "CV Nr 1 auslesen..." "CV 1 Lesefehler!"
# The dead adapter is told once, not for every read that the reader retries.
[ "$(e2e_count "Readfile: 1167")" -le 1 ] || e2e_fail "the reader repeats its error"
e2e_keys Escape
e2e_wait_for "q oder ESC .. Beenden"
# The quit sequence cannot reach the receiver either: said, and exit 4.
e2e_keys q
e2e_wait_for "Schreibfehler: 4 Bytes nicht gesendet, Empfänger nicht freigegeben"
e2e_expect_exit 4
e2e_expect_terminal_restored
# Nothing reached the receiver after the pull.
[ "$(grep -c ' TX ' "$work/r1/wire.log")" -eq $startup ] || e2e_fail "bytes arrived after the pull"

# Killed while unplugged: the terminal is still restored.
e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$work/r2?unplug=$startup"
e2e_wait_for "q oder ESC .. Beenden"
kill -TERM "$e2e_pid"
e2e_wait_exit
e2e_expect_terminal_restored

# Pulled in the middle of a read-out (during the 14th read, CV 7a): the
# read-out stops there at once, without retries, says how many bytes did not go
# out, makes no file under the name, and keeps the 13 CVs read before beside it.
e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" \
  "sim:$work/r3?unplug=$((startup + line_check + 13 * read_bytes + 4 + 20))" "$work/out.txt"
e2e_wait_for "q oder ESC .. Beenden"
cp "$work/r3/cvs.txt" "$work/factory.txt"
e2e_keys a
# (The message names both files; on an 80-column screen it wraps.)
e2e_wait_for "Schreibfehler: 16 Bytes nicht gesendet!" "Die gelesenen Zeilen stehen in" \
  "ist unverändert." "q oder ESC .. Beenden"
[ ! -e "$work/out.txt" ] || e2e_fail "a cut read-out was put under the name itself"
[ "$(wc -l <"$work/out.txt.teil")" -eq 13 ] || e2e_fail "the kept lines are $(wc -l <"$work/out.txt.teil")"
[ "$(grep -cxFf "$work/factory.txt" "$work/out.txt.teil")" -eq 13 ] ||
  e2e_fail "the 13 CVs read before the pull are not the receiver's"
mv "$work/out.txt.teil" "$work/out.txt"
[ "$(e2e_count "Lesefehler")" -eq 0 ] || e2e_fail "a dead port is told as read errors"
ticks=$(e2e_cpu_over 2 side)
[ "$ticks" -le 4 ] || e2e_fail "the reader used $ticks/100 s of CPU in 2 s after the read-out"

# Programming that file back with the adapter gone: the 13 values go nowhere,
# which the end of the run says (4 bytes a CV write).
e2e_keys p
e2e_wait_for "Schreibfehler: 52 Bytes nicht gesendet!" "q oder ESC .. Beenden"
[ "$(e2e_count "ungültige zeile")" -eq 0 ] || e2e_fail "a line of the read-out was refused"
cmp -s "$work/factory.txt" "$work/r3/cvs.txt" || e2e_fail "the receiver changed after the pull"
e2e_keys q
e2e_wait_for "Schreibfehler: 4 Bytes nicht gesendet, Empfänger nicht freigegeben"
e2e_expect_exit 4
e2e_expect_terminal_restored
echo PASS
