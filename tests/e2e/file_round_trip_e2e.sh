#!/bin/bash
# Read out to a file (a), edit one line of it by hand (sed), program it back
# (p): only that CV changes in the receiver. Usage: file_round_trip_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup file_round_trip
receiver=$work/receiver
data=$work/cvs_data.txt

e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$receiver" "$data"
e2e_wait_for "Kommandos:" "q oder ESC .. Beenden"
cp "$receiver/cvs.txt" "$work/before.txt"

e2e_keys a
e2e_wait_for "Abbruch mit ESC" "Kommandos:"
[ "$(wc -l <"$data")" -eq 398 ] || e2e_fail "the read-out has $(wc -l <"$data") lines, not 398"
grep -q Lesefehler "$data" && e2e_fail "read errors on a healthy receiver"
# Every line read out is the receiver's own line for that CV.
grep -vxFf "$receiver/cvs.txt" "$data" && e2e_fail "read-out lines that the receiver does not hold"

# The user edits CV 10a by hand, as text, with a value in decimal; the
# binary comment left behind is ignored.
e2e_cv_line "$data" 10a | grep -qx 'CV  10a = 246 (b1111 0110)' || e2e_fail "CV 10a not read out"
sed -i 's/^CV  10a = 246 /CV  10a =  77 /' "$data"

# The name is kept after a: p programs the same file without asking.
e2e_keys p
e2e_wait_for "Abbruch mit ESC" "Kommandos:"
e2e_cv_line "$receiver/cvs.txt" 10a | grep -qx 'CV  10a =  77 (b0100 1101)' ||
  e2e_fail "CV 10a not programmed: $(e2e_cv_line "$receiver/cvs.txt" 10a)"
changes=$(diff "$work/before.txt" "$receiver/cvs.txt" | grep '^[<>]' || true)
[ "$(wc -l <<<"$changes")" -eq 2 ] || e2e_fail "other CVs changed too: $changes"
# All 398 lines were written back.
writes=$(e2e_wire_commands "$receiver" | grep -c ' AE$' || true)
[ "$writes" -eq 398 ] || e2e_fail "$writes write commands, not 398"

e2e_quit "$receiver"
echo PASS
