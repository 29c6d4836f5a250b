#!/bin/bash
# Scripted use with keys from a pipe, the screen a real terminal: 'pq'
# programs the data file and quits (exit 0, EE EE EE EE on the wire); input
# that ends early reads as ESC, which walks back to the menu and out, also out
# of a read-out, which then says that its file is incomplete.
# Usage: piped_keys_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup piped_keys

# piped KEYS RECEIVER [DATA FILE]: tarvel on the virtual clock, keys from printf.
piped() {
  local keys=$1
  shift
  e2e_start bash -c 'printf "$0" | ORN_VIRTUAL_CLOCK=1 "$@"' "$keys" "$tarvel" "$@"
}

# p then q: the file is programmed, the run ends by itself. (Two lines that
# program: a whole file is piped_program_e2e's story.)
printf 'CV 5 =\nCV 3 = 99\nCV 200a = b1000 0001\n' >"$work/data.txt"
piped pq "sim:$work/r1" "$work/data.txt"
e2e_expect_exit 0
e2e_wait_for "Abbruch mit ESC" "CV 5 =: ungültige zeile: kein Wert"
e2e_cv_line "$work/r1/cvs.txt" 3 | grep -qx 'CV   3  =  99 (b0110 0011)' || e2e_fail "CV 3 not programmed"
e2e_cv_line "$work/r1/cvs.txt" 200a | grep -qx 'CV 200a = 129 (b1000 0001)' || e2e_fail "CV 200a not programmed"
e2e_expect_quit_sequence "$work/r1"
e2e_expect_no_protocol_errors "$work/r1"
e2e_expect_terminal_restored

# Only 'e': the number prompt takes ESC at the end of input, then the menu does.
piped e "sim:$work/r2"
e2e_expect_exit 0
e2e_wait_for "CV-Nummer eingeben" "q oder ESC .. Beenden"
e2e_expect_quit_sequence "$work/r2"
e2e_expect_terminal_restored

# Only 'a': the end of input does not stop the read-out; the menu takes it.
piped a "sim:$work/r3" "$work/new.txt"
e2e_expect_exit 0
[ "$(wc -l <"$work/new.txt")" -eq 398 ] || e2e_fail "the read-out stopped early"
grep -qx 'CV 199a =  57 (b0011 1001)' "$work/new.txt" || e2e_fail "the last CV is missing"
e2e_expect_quit_sequence "$work/r3"
e2e_expect_terminal_restored
echo PASS
