#!/bin/bash
# tarvel in real time (ORN_HOME present: a 2 s reset): the start-up's pauses
# really pass, a CV read keeps the receiver's timing (no sample too early),
# and q after the menu ends it with the quit sequence.
# Usage: realtime_start_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup realtime_start
receiver=$work/receiver

# Microseconds of the first wire log line with this event and value, and of the last.
at() { awk -v e="$1" -v v="$2" '$2 == e && $3 == v { print $1; exit }' "$receiver/wire.log"; }
last() { awk -v e="$1" -v v="$2" '$2 == e && $3 == v { t = $1 } END { print t }' "$receiver/wire.log"; }

started=$(date +%s%N)
e2e_start env -u ORN_VIRTUAL_CLOCK ORN_HOME= "$tarvel" "sim:$receiver"
e2e_wait_for "2 Sekunden Reset...."
e2e_wait_for "Empfänger sollte kurz hupen bzw. blinken" "q oder ESC .. Beenden"
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
# 500 + 200 + 2000 (reset) + 20 + 12 x 20 + 20 + 2000 ms of pauses.
[ "$elapsed_ms" -ge 4980 ] || e2e_fail "the menu came after $elapsed_ms ms, before the pauses had passed"

# DTR is raised when the port opens and dropped at once; the reset phase is
# the last time it is raised.
on=$(last DTR 1) off=$(last DTR 0)
[ -n "$off" ] && [ $((off - on)) -ge 2000000 ] && [ $((off - on)) -lt 2200000 ] ||
  e2e_fail "reset phase of $((off - on)) us, not 2 s"
[ $(($(at TX 55) - $(at TX F3))) -ge 240000 ] || e2e_fail "the wake bytes came faster than 20 ms apart"

e2e_keys e
e2e_wait_for "CV-Nummer eingeben (1..256, Alternative CVs 1001..1256): 1"
e2e_keys Enter Enter
e2e_wait_for "CV    1  = 0 (0000 0000)"
e2e_keys Escape
e2e_wait_for "q oder ESC .. Beenden"
e2e_quit "$receiver"
# Opening raises DTR for a moment (a reset), then the reset phase, service mode, quit.
[ "$(e2e_wire_events "$receiver" STATE | awk '{ printf "%s ", $3 }')" = "running reset running reset running service running " ] ||
  e2e_fail "the receiver went through $(e2e_wire_events "$receiver" STATE | awk '{ printf "%s ", $3 }')"
echo PASS
