#!/bin/bash
# Reading a run of CVs with Enter: e, a number, then Enter Enter for each CV
# (Enter takes the offered number, Enter at the question reads) shows
# consecutive CVs with their factory values; in the alternative bank the run
# wraps from 1256 to 1001. Usage: read_run_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup read_run
prompt='CV-Nummer eingeben (1..256, Alternative CVs 1001..1256):'

e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$work/receiver"
e2e_wait_for "Kommandos:" "q oder ESC .. Beenden"

# A fresh receiver holds normal CV n = n - 1.
e2e_keys e
e2e_wait_for "$prompt 1"
e2e_keys 4 0 Enter Enter
e2e_wait_for "CV   40  = 39 (0010 0111)" "$prompt 41"
e2e_keys Enter Enter
e2e_wait_for "CV   41  = 40 (0010 1000)" "$prompt 42"
e2e_keys Enter Enter
e2e_wait_for "CV   42  = 41 (0010 1001)" "$prompt 43"
e2e_keys Enter Enter
e2e_wait_for "CV   43  = 42 (0010 1010)" "$prompt 44"

# ... and alternative CV n = 255 - (n - 1); after the last one comes the first.
e2e_keys BSpace BSpace 1 2 5 5 Enter Enter
e2e_wait_for "CV  255a = 1 (0000 0001)" "$prompt 1256"
e2e_keys Enter Enter
e2e_wait_for "CV  256a = 0 (0000 0000)" "$prompt 1001"
e2e_keys Enter Enter
e2e_wait_for "CV    1a = 255 (1111 1111)" "$prompt 1002"

# Each read shows once: no read was repeated or lost.
for cv in "  40  = 39" "  41  = 40" "  42  = 41" "  43  = 42" " 255a = 1 " " 256a = 0 "; do
  [ "$(e2e_count "CV $cv")" -eq 1 ] || e2e_fail "CV$cv shows $(e2e_count "CV $cv") times"
done
# The line's check before the first read (8 bits, 16 pairs of verifies), then
# seven reads: each of 8 questions and a verify, bank and index as typed, and
# 1a's 255 also the verify of its complement.
[ "$(e2e_wire_events "$work/receiver" DSR | wc -l)" -eq $((40 + 63 + 1)) ] ||
  e2e_fail "$(e2e_wire_events "$work/receiver" DSR | wc -l) DSR samples, not 40 + 7 reads of 9 + 1"
case "$(e2e_wire_tx "$work/receiver")" in
  *"00 27 27 AF "*"00 2A 2A AF "*"01 FE 01 AF "*"01 FF 00 AF "*"01 00 FF AF "*) ;;
  *) e2e_fail "the verify commands on the wire are not those of CVs 40..43, 255a, 256a, 1a" ;;
esac

e2e_keys Escape
e2e_wait_for "q oder ESC .. Beenden"
e2e_quit "$work/receiver"
echo PASS
