#!/bin/bash
# tarvel in a real terminal: program a receiver from a data file (p), refuse to
# overwrite that file (a, n), read the receiver out into a new file chosen at
# the prompt (a), quit (q). Usage: data_file_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/../e2e/e2e_lib.sh"
tarvel=$1
e2e_setup data_file
receiver=$work/receiver

# File names at the prompt are relative to the working directory.
cd "$work"
printf 'CV 1 = 200\r\nCV 7a = b0000 1100\nCV 300 = 1\nCV  29  =   6 (b0000 0110)\n' >cvs.txt
cp cvs.txt cvs.orig

e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$receiver" cvs.txt
e2e_wait_for "Kommandos:" "q oder ESC"

e2e_keys p
e2e_wait_for "Abbruch mit ESC" "CV 300 = 1: ungültige zeile: CV muss zwischen 1 und 256 liegen" "Kommandos:"
grep -qx 'CV   1  = 200 (b1100 1000)' "$receiver/cvs.txt" || e2e_fail "CV 1 not programmed"
grep -qx 'CV   7a =  12 (b0000 1100)' "$receiver/cvs.txt" || e2e_fail "CV 7a not programmed"
grep -qx 'CV  29  =   6 (b0000 0110)' "$receiver/cvs.txt" || e2e_fail "CV 29 not programmed"

# The file name is kept after p: a asks before overwriting, n keeps the file.
e2e_keys a
e2e_wait_for "cvs.txt existiert bereits! Löschen?"
e2e_keys n
e2e_wait_for "Kommandos:"
cmp -s cvs.txt cvs.orig || e2e_fail "n overwrote the data file"

# n emptied the name: the next a asks for a file.
e2e_keys a
e2e_wait_for "Datendatei (*.txt):"
e2e_keys n e u x BSpace
e2e_wait_for "Datendatei (*.txt): neu"
e2e_keys Enter
e2e_wait_for "Abbruch mit ESC" "Kommandos:"
[ -f neu.txt ] || e2e_fail "no neu.txt (the .txt rule, relative to the working directory)"
[ "$(wc -l <neu.txt)" -eq 398 ] || e2e_fail "neu.txt has $(wc -l <neu.txt) lines, not 398"
grep -qx 'CV   1  = 200 (b1100 1000)' neu.txt || e2e_fail "read-out lacks CV 1 = 200"
grep -qx 'CV   7a =  12 (b0000 1100)' neu.txt || e2e_fail "read-out lacks CV 7a = 12"
grep -qx 'CV   2  =   1 (b0000 0001)' neu.txt || e2e_fail "read-out lacks factory CV 2 = 1"
grep -qx 'CV 199a =  57 (b0011 1001)' neu.txt || e2e_fail "read-out lacks CV 199a = 57"
grep -q Lesefehler neu.txt && e2e_fail "read errors on a healthy receiver"

e2e_keys q
e2e_expect_exit 0
e2e_expect_quit_sequence "$receiver"
echo PASS
