#!/bin/bash
# tarvel with its adapter pulled (the receiver option unplug=N): it carries
# on as with a silent receiver and never hangs or spins. At the menu it sleeps;
# a read fails with "Lesefehler"; a read-out finishes its file with a
# "Lesefehler" line for every CV it could not read; q and a kill both end it
# with the terminal usable. Usage: unplug_tarvel_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup unplug_tarvel
# The start-up sends 14 bytes (41, F3..FE, 55), a read 36.
startup=14
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
e2e_keys q
e2e_expect_exit 0
e2e_expect_terminal_restored
# Nothing reached the receiver after the pull.
[ "$(grep -c ' TX ' "$work/r1/wire.log")" -eq $startup ] || e2e_fail "bytes arrived after the pull"

# Killed while unplugged: the terminal is still restored.
e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$work/r2?unplug=$startup"
e2e_wait_for "q oder ESC .. Beenden"
kill -TERM "$e2e_pid"
e2e_wait_exit
e2e_expect_terminal_restored

# Pulled in the middle of a read-out (during the 14th read, CV 7a): the file
# has all 398 lines, each the receiver's value or a read error that says so.
e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$work/r3?unplug=$((startup + 13 * read_bytes + 20))" "$work/out.txt"
e2e_wait_for "q oder ESC .. Beenden"
cp "$work/r3/cvs.txt" "$work/factory.txt"
e2e_keys a
e2e_wait_for "CV 199a: Lesefehler!" "q oder ESC .. Beenden"
[ "$(wc -l <"$work/out.txt")" -eq 398 ] || e2e_fail "the read-out file has $(wc -l <"$work/out.txt") lines"
[ "$(grep -c '^CV *[0-9]*a\?: Lesefehler!$' "$work/out.txt")" -eq 385 ] || e2e_fail "not 385 read errors in the file"
[ "$(grep -v Lesefehler "$work/out.txt" | grep -cxFf "$work/factory.txt")" -eq 13 ] ||
  e2e_fail "the 13 CVs read before the pull are not the receiver's"
e2e_cv_line "$work/out.txt" 7a | grep -qx 'CV   7a: Lesefehler!' || e2e_fail "CV 7a (cut off mid-read) not marked"
[ "$(e2e_count ": Lesefehler!")" -eq 385 ] || e2e_fail "the screen does not show every read error"
ticks=$(e2e_cpu_over 2 side)
[ "$ticks" -le 4 ] || e2e_fail "the reader used $ticks/100 s of CPU in 2 s after the read-out"

# Programming that file back with the adapter gone runs through it: the
# read errors are refused lines, and the 13 values go nowhere, which the end
# of the run says (4 bytes a CV write).
e2e_keys p
e2e_wait_for "CV 199a: Lesefehler!: ungültige zeile: kein '='" "Schreibfehler: 52 Bytes nicht gesendet!" \
  "q oder ESC .. Beenden"
[ "$(e2e_count "ungültige zeile: kein '='")" -eq 385 ] || e2e_fail "not every read error line refused"
cmp -s "$work/factory.txt" "$work/r3/cvs.txt" || e2e_fail "the receiver changed after the pull"
e2e_keys q
e2e_expect_exit 0
e2e_expect_terminal_restored
echo PASS
