#!/bin/bash
# tarvel in a real terminal with hostile input: a read-out onto a full disk
# (keys from a pipe, output on the terminal, whose own calls must not replace
# the write's error), and paths typed at the file prompt that name directories
# or hold letters beyond ASCII. Usage: hostile_terminal_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup hostile_terminal

# A file size limit of 4 KiB stands in for a full disk; the receiver lives in
# memory, since its own files would meet the limit too.
e2e_start bash -c 'ulimit -f 4; trap "" XFSZ; printf aq | ORN_VIRTUAL_CLOCK=1 "$0" sim: "$1"' \
  "$tarvel" "$work/full.txt"
e2e_expect_exit 0
# (The message names both files; on an 80-column screen it wraps.)
e2e_wait_for "$work/full.txt: File too large" "Die gelesenen Zeilen stehen in" "ist unverändert."
[ ! -e "$work/full.txt" ] || e2e_fail "a cut read-out was put under the name itself"
e2e_expect_terminal_restored

# At the prompt: ".", "/" and an existing folder are refused and asked again;
# then a name with umlauts is taken as UTF-8 and the read-out lands there.
mkdir "$work/sub"
e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$work/receiver"
e2e_wait_for "q oder ESC .. Beenden"
e2e_keys a
for answer in . / "$work/sub"; do
  e2e_wait_for "Datendatei (*.txt):"
  e2e_keys -l "$answer"
  e2e_keys Enter
  e2e_wait_for "$answer ist ein Verzeichnis."
done
e2e_keys -l "$work/Mäuse"
e2e_keys Enter
e2e_wait_for "q oder ESC .. Beenden"
[ "$(e2e_count "ist ein Verzeichnis.")" -eq 3 ] || e2e_fail "not every directory refused once"
[ -f "$work/Mäuse.txt" ] || e2e_fail "no $work/Mäuse.txt: $(ls "$work")"
[ "$(wc -l <"$work/Mäuse.txt")" -eq 398 ] || e2e_fail "the read-out is not complete"
e2e_quit "$work/receiver"
echo PASS
