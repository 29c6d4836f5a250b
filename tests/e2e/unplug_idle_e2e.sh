#!/bin/bash
# In real time: tarvel whose adapter is pulled right after the start-up sits
# at its menu and at the number prompt without using the processor, a read
# fails with "Lesefehler", and q still ends it (exit 4, the quit sequence not
# sent, terminal usable).
# Usage: unplug_idle_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup unplug_idle

# The start-up sends 14 bytes: 41, F3..FE, 55.
e2e_start env -u ORN_VIRTUAL_CLOCK ORN_HOME= "$tarvel" "sim:$work/receiver?unplug=14"
e2e_wait_for "q oder ESC .. Beenden"
ticks=$(e2e_cpu_over 2)
[ "$ticks" -le 4 ] || e2e_fail "tarvel used $ticks/100 s of CPU in 2 s at the menu"
e2e_keys e Enter Enter
e2e_wait_for "CV 1 Lesefehler!" "CV-Nummer eingeben (1..256, Alternative CVs 1001..1256): 1"
ticks=$(e2e_cpu_over 1)
[ "$ticks" -le 2 ] || e2e_fail "tarvel used $ticks/100 s of CPU in 1 s at the number prompt"
e2e_keys Escape
e2e_wait_for "q oder ESC .. Beenden"
e2e_keys q
e2e_wait_for "Schreibfehler: 4 Bytes nicht gesendet, Empfänger nicht freigegeben"
e2e_expect_exit 4
e2e_expect_terminal_restored
[ "$(grep -c ' TX ' "$work/receiver/wire.log")" -eq 14 ] || e2e_fail "bytes arrived after the pull"
echo PASS
