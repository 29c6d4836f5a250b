#!/bin/bash
# morrex in each reset mode on the virtual receiver (virtual clock): full
# (sim:DIR, 10 s), short (xsim:DIR, 2 s, 128-byte pages) and none (rsim:DIR).
# Checked on the screen, in the wire log (bytes in order, DTR/RTS phases and
# their lengths, the first wake byte 500 ms after the reset phase or after the
# start) and in flash.bin. Usage: morrex_reset_modes_e2e.sh MORREX
set -eu
source "$(dirname "$0")/e2e_lib.sh"
morrex=$1
e2e_setup morrex_modes

# Each byte as two upper-case hex digits and a blank (od is in every Debian).
hex_bytes() { od -An -v -tx1 | tr 'a-f' 'A-F' | tr -s ' \n' '\n\n' | sed '/^$/d' | tr '\n' ' '; }
counting() { for ((i = $1; i <= $2; i++)); do printf '%02X ' $i; done; }

# A program file for CPU '8' or '6' with three page records (pages 2, 0, 5
# out of order), a single-byte record and the end record; and the flash image
# it must leave.
make_image() {
  local cpu=$1 size=$2 page i
  {
    printf '%s\x5A' "$cpu"
    for page in 2 0 5; do
      printf "u\\x$(printf %02x $page)"
      for ((i = 0; i < size; i++)); do printf "\\x$(printf %02x $(((page * 37 + i * 7) & 255)))"; done
    done
    printf '\xCC3'
  } >"$work/fw.bin"
  : >"$work/flash.want"
  for page in 0 1 2 3 4 5; do
    for ((i = 0; i < size; i++)); do
      case $page in
        0 | 2 | 5) printf "\\x$(printf %02x $(((page * 37 + i * 7) & 255)))" ;;
        *) printf '\xFF' ;;
      esac
    done >>"$work/flash.want"
  done
}

# Microseconds of the first wire log line with this event and value.
at() { awk -v e="$2" -v v="$3" '$2 == e && $3 == v { print $1; exit }' "$1/wire.log"; }

# run_mode PREFIX OPTIONS CPU PAGE_SIZE RESET_SECONDS (0: no reset)
run_mode() {
  local prefix=$1 options=$2 receiver=$work/receiver$1 seconds=$5 want_tx
  make_image "$3" "$4"
  e2e_start env ORN_VIRTUAL_CLOCK=1 "$morrex" "${prefix}sim:$receiver$options" "$work/fw.bin"
  e2e_wait_for "Update Amtel-Flash Version 1.1, 11.1.2005" \
    "Empfaenger sollte kurz hupen/blinken bzw. Dauerton/Dauerblinken beenden" "fertig"
  e2e_expect_exit 0
  e2e_expect_terminal_restored
  e2e_expect_no_protocol_errors "$receiver"
  cmp -s "$receiver/flash.bin" "$work/flash.want" || e2e_fail "mode '$prefix': flash.bin is not the image"

  want_tx="$(counting 0xF3 0xFF)21 5A $(counting 0 255)$(tail -c +3 "$work/fw.bin" | hex_bytes)"
  if [ "$seconds" -gt 0 ]; then
    e2e_wait_for "$seconds Sekunden Reset...."
    want_tx="41 $want_tx"
    local on off
    on=$(at "$receiver" DTR 1) off=$(at "$receiver" DTR 0)
    [ -n "$on" ] && [ "$on" = "$(at "$receiver" RTS 1)" ] || e2e_fail "mode '$prefix': DTR and RTS not raised together"
    [ -n "$off" ] && [ "$off" = "$(at "$receiver" RTS 0)" ] || e2e_fail "mode '$prefix': DTR and RTS not dropped together"
    [ $((off - on)) -eq $((seconds * 1000000)) ] ||
      e2e_fail "mode '$prefix': reset phase of $((off - on)) us, not $seconds s"
    # 'A' goes out 500 ms after the port is set up, the reset phase 200 ms after it.
    [ $((on - $(at "$receiver" TX 41))) -eq 200000 ] || e2e_fail "mode '$prefix': no 200 ms between 'A' and the reset"
    [ $(($(at "$receiver" TX F3) - off)) -eq $((500000 + 260)) ] ||
      e2e_fail "mode '$prefix': the first wake byte is not 500 ms after the reset phase"
  else
    [ "$(e2e_count "Sekunden Reset")" -eq 0 ] || e2e_fail "mode r shows a reset line"
    [ -z "$(e2e_wire_events "$receiver" DTR)$(e2e_wire_events "$receiver" RTS)" ] ||
      e2e_fail "mode r touched DTR or RTS: $(e2e_wire_events "$receiver" DTR)"
    [ "$(at "$receiver" TX F3)" -eq $((500000 + 260)) ] || e2e_fail "mode r: the first byte is not F3 after 500 ms"
  fi
  [ "$(e2e_wire_tx "$receiver")" = "$want_tx" ] || e2e_fail "mode '$prefix': bytes on the wire differ from the protocol"
}

run_mode "" "" 8 64 10
run_mode x "?cpu=6" 6 128 2
run_mode r "" 8 64 0
echo PASS
