#!/bin/bash
# morrex with its adapter pulled in the middle of the count-up (unplug=N, on
# the virtual clock): each byte that fails is told on the terminal, the run
# goes on to its end without hanging, ends with exit 1 saying that bytes were
# not sent (never "fertig"), and the flash is left as it was; killed
# in its reset phase, it leaves the terminal usable.
# Usage: unplug_morrex_e2e.sh MORREX
set -eu
source "$(dirname "$0")/e2e_lib.sh"
morrex=$1
e2e_setup unplug_morrex

# CPU '8', handshake byte, three 64-byte pages, the end record: 1 + 13 wake
# bytes, then 2 + 256 + 3 * 66 + 1: 471 on the line in all.
{
  printf '8\x5A'
  for page in 0 1 2; do
    printf "u\\x0$page"
    for ((i = 0; i < 64; i++)); do printf '\x42'; done
  done
  printf '3'
} >"$work/fw.bin"
sent=200

e2e_start env ORN_VIRTUAL_CLOCK=1 "$morrex" "xsim:$work/receiver?unplug=$sent" "$work/fw.bin"
e2e_wait_exit 20
[ "$(e2e_count "2 Sekunden Reset....")" -eq 1 ] || e2e_fail "no reset line"
[ "$(e2e_count "WriteFile returns 1167")" -eq $((471 - sent)) ] ||
  e2e_fail "$(e2e_count "WriteFile returns 1167") failed bytes told, not $((471 - sent))"
[ "$(grep -c ' TX ' "$work/receiver/wire.log")" -eq $sent ] || e2e_fail "bytes arrived after the pull"
[ ! -e "$work/receiver/flash.bin" ] || e2e_fail "a flash image was written without its end record"
[ "$exit_code" = 1 ] || e2e_fail "exit code $exit_code after the pull"
[ "$(e2e_count "Übertragung unvollständig: $((471 - sent)) Bytes nicht gesendet")" -eq 1 ] ||
  e2e_fail "the lost bytes were not told"
[ "$(e2e_count "fertig")" -eq 0 ] || e2e_fail "an update that lost bytes ended as done"
e2e_expect_terminal_restored

# Killed in the middle of its reset phase (real time): the terminal is usable.
e2e_start env -u ORN_VIRTUAL_CLOCK "$morrex" "xsim:$work/receiver2?unplug=5" "$work/fw.bin"
e2e_wait_for "2 Sekunden Reset...."
kill -TERM "$e2e_pid"
e2e_wait_exit 3
[ "$exit_code" = 143 ] || e2e_fail "exit code $exit_code after SIGTERM"
e2e_expect_terminal_restored
echo PASS
