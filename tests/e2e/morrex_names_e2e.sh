#!/bin/bash
# morrex in a real terminal shows a program file name with an umlaut as it is
# (UTF-8), in the line that reports it. Usage: morrex_names_e2e.sh MORREX
set -eu
source "$(dirname "$0")/e2e_lib.sh"
morrex=$1
e2e_setup morrex_names

e2e_start env ORN_VIRTUAL_CLOCK=1 "$morrex" "rsim:$work/receiver" "$work/Prüfung.bin"
e2e_wait_exit
e2e_wait_for "$work/Prüfung.bin: "
e2e_expect_terminal_restored
echo PASS
