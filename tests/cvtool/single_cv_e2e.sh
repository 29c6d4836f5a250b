#!/bin/bash
# tarvel in a real terminal: e, 17, Enter, l reads CV 17 as the virtual
# receiver holds it; programming it in binary (F1) changes the receiver, and a
# second read shows the new value. Usage: single_cv_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/../e2e/e2e_lib.sh"
tarvel=$1
e2e_setup single_cv
receiver=$work/receiver
prompt='CV-Nummer eingeben (1..256, Alternative CVs 1001..1256):'

e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$receiver"
e2e_wait_for "Kommandos:" "q oder ESC"

e2e_keys e
e2e_wait_for "$prompt 1"
e2e_keys 1 7 Enter
e2e_wait_for "l..esen oder p..rogrammieren"
e2e_keys l
e2e_wait_for "CV Nr 17 auslesen..." "CV   17  = 16 (0001 0000)" "$prompt 18"

# Program CV 17 in binary: the decimal default is the value just read.
e2e_keys 1 7 Enter p
e2e_wait_for "neuer Wert: (F1->Binäreingabe) 16"
e2e_keys F1
e2e_wait_for "neuer Wert: (F2->Dezimaleingabe) 0001 0000"
e2e_keys 1 1 0 0 1 0 0 0 Enter
e2e_wait_for "$prompt 17"
grep -qx 'CV  17  = 200 (b1100 1000)' "$receiver/cvs.txt" ||
  e2e_fail "CV 17 not stored: $(grep '^CV  17  ' "$receiver/cvs.txt")"

# Read it back: Enter takes the offered 17, Enter at the question reads.
e2e_keys Enter Enter
e2e_wait_for "CV   17  = 200 (1100 1000)" "$prompt 18"
[ "$(e2e_screen | grep -cF 'CV   17  = 16 (0001 0000)')" -eq 1 ] || e2e_fail "the first read shows twice"

e2e_keys Escape
sleep 0.3
e2e_keys q
e2e_expect_exit 0
e2e_expect_no_protocol_errors "$receiver"
echo PASS
