#!/bin/bash
# Programming a CV in binary after F1: alternative CV 42 (entry 1042) gets
# 1010 0101; the receiver's cvs.txt shows it and nothing else changed. Binary
# entry stays chosen for the next value. Usage: program_binary_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup program_binary
receiver=$work/receiver
prompt='CV-Nummer eingeben (1..256, Alternative CVs 1001..1256):'

e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$receiver"
e2e_wait_for "Kommandos:" "q oder ESC .. Beenden"
cp "$receiver/cvs.txt" "$work/factory.txt"

e2e_keys e
e2e_wait_for "$prompt 1"
e2e_keys 1 0 4 2 Enter p
# The value on offer is the current one (0 at start), first in decimal.
e2e_wait_for "neuer Wert: (F1->Binäreingabe) 0"
e2e_keys F1
e2e_wait_for "neuer Wert: (F2->Dezimaleingabe) 0000 0000"
e2e_keys 1 0 1 0 Space 0 1 0 1 Enter
e2e_wait_for "$prompt 1042"
e2e_cv_line "$receiver/cvs.txt" 42a | grep -qx 'CV  42a = 165 (b1010 0101)' ||
  e2e_fail "alternative CV 42 not stored: $(e2e_cv_line "$receiver/cvs.txt" 42a)"
[ "$(diff "$work/factory.txt" "$receiver/cvs.txt" | grep -c '^[<>]')" -eq 2 ] ||
  e2e_fail "more than CV 42a changed: $(diff "$work/factory.txt" "$receiver/cvs.txt")"
case "$(e2e_wire_tx "$receiver")" in
  *"01 29 A5 AE ") ;;
  *) e2e_fail "the last command is not the write 01 29 A5 AE" ;;
esac

# Binary stays chosen: the next program step offers the value in binary.
e2e_keys Enter p
e2e_wait_for "neuer Wert: (F2->Dezimaleingabe) 1010 0101"
e2e_keys Escape
e2e_wait_for "q oder ESC .. Beenden"
e2e_quit "$receiver"
echo PASS
