#!/bin/bash
# The Windows programs in a terminal under Wine (tmux, UTF-8 locale), started
# through code_page_run from a console at code page 437 or 65001, on the
# virtual receiver: the umlauts show right, typed umlauts arrive as code page
# 850 bytes, the receiver sees the same wire as on Linux, and the console has
# its code pages back afterwards, after q, after an exit with a pause, and
# after Ctrl+C; Ctrl+C ends a job (--program, --write) with
# STATUS_CONTROL_C_EXIT, never 0.
# Usage: console_wine_tmux.sh CASE code_page_run.exe tarvel.exe morrex.exe
#        key_echo.exe wine-run
set -eu
source "$(dirname "$0")/../e2e/e2e_lib.sh"
case_name=$1 code_page_run=$2 tarvel=$3 morrex=$4 key_echo=$5 wine_run=$6
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix of the build}"
# Wine takes its time to start, the first time in a prefix most of all.
E2E_WAIT=30
e2e_setup "wine_$case_name"
receiver=$work/receiver

# run CP PROGRAM ARGUMENT...: in the pane, at code page CP, with a 2 s reset.
run() {
  local code_page=$1
  shift
  e2e_start env LC_ALL=C.UTF-8 ORN_HOME=1 "$wine_run" "$code_page_run" "$code_page" "$@"
}

# The program ended (with CODE, when given) and the console is back at code
# page CP. Usage: expect_after CP [CODE]
expect_after() {
  e2e_wait_for "code pages after: input $1, output $1; exit code ${2:-}"
  e2e_expect_exit 0
  e2e_expect_terminal_restored
}

tarvel_menu() {
  run "$1" "$tarvel" "sim:$receiver"
  e2e_wait_for "Empfänger sollte kurz hupen bzw. blinken" "q oder ESC .. Beenden"
}

# A CV read, then a CV number out of range, which says so with an umlaut and
# goes back to the menu; then q.
tarvel_session() {
  tarvel_menu "$1"
  e2e_keys e
  e2e_wait_for "CV-Nummer eingeben"
  e2e_keys 1 7 Enter Enter
  e2e_wait_for "CV   17  = 16 (0001 0000)"
  e2e_keys BSpace BSpace 0 Enter
  e2e_wait_for "ungültige CV!"
  e2e_keys q
  expect_after "$1" 0
  e2e_expect_quit_sequence "$receiver"
  e2e_expect_no_protocol_errors "$receiver"
  [ "$(grep -c '^CV ' "$receiver/cvs.txt")" -eq 512 ] || e2e_fail "cvs.txt is not 512 CVs"
  case "$(e2e_wire_tx "$receiver")" in
    *"00 10 10 AF "*) ;;
    *) e2e_fail "no verify of CV 17 on the wire" ;;
  esac
}

# First byte neither 8 nor 6: the message, the 3 s pause, exit code 3.
morrex_bad_cpu() {
  printf 'X\x5Au\x00' >"$work/bad.bin"
  run "$1" "$morrex" "xsim:$receiver" "$work/bad.bin"
  e2e_wait_for "ungültige CPU-Kennung!"
  expect_after "$1" 3
}

# Two 64-byte pages and the end record into flash.bin.
morrex_flash() {
  {
    printf '8\x5A'
    printf 'u\x01'
    for ((i = 0; i < 64; i++)); do printf "\\x$(printf %02x $((i * 3 & 255)))"; done
    printf 'u\x00'
    for ((i = 0; i < 64; i++)); do printf '\xA5'; done
    printf '3'
  } >"$work/fw.bin"
  {
    for ((i = 0; i < 64; i++)); do printf '\xA5'; done
    for ((i = 0; i < 64; i++)); do printf "\\x$(printf %02x $((i * 3 & 255)))"; done
  } >"$work/flash.want"
  run 437 "$morrex" "xsim:$receiver" "$work/fw.bin"
  e2e_wait_for "Empfaenger sollte kurz hupen/blinken" "fertig"
  expect_after 437 0
  e2e_expect_no_protocol_errors "$receiver"
  cmp -s "$receiver/flash.bin" "$work/flash.want" || e2e_fail "flash.bin is not the image"
}

case $case_name in
  tarvel_437) tarvel_session 437 ;;
  tarvel_65001) tarvel_session 65001 ;;
  tarvel_ctrl_c)
    tarvel_menu 65001
    e2e_keys C-c
    expect_after 65001
    ;;
  tarvel_ctrl_c_read_out)
    # Ctrl+C in the middle of a read-out from the menu: the old file stays as
    # it was, the lines read are kept beside it, no new file is left over.
    printf 'alt\r\n' >"$work/cvs.txt"
    run 65001 "$tarvel" "sim:$receiver" "$work/cvs.txt"
    e2e_wait_for "q oder ESC .. Beenden"
    e2e_keys a
    e2e_wait_for "existiert bereits"
    e2e_keys j
    e2e_wait_for "Abbruch mit ESC"
    e2e_wait_for_line '^CV +[0-9]+a? += '
    e2e_keys C-c
    expect_after 65001
    [ "$(cat "$work/cvs.txt")" = "$(printf 'alt\r')" ] || e2e_fail "the old file changed"
    [ -s "$work/cvs.txt.teil" ] || e2e_fail "the lines read are not kept"
    [ "$(tail -c 2 "$work/cvs.txt.teil" | od -An -tx1 | tr -d ' ')" = 0d0a ] ||
      e2e_fail "the kept file ends in a cut line"
    leftover=$(find "$work" -maxdepth 1 -iname 'neu*.tmp')
    [ -z "$leftover" ] || e2e_fail "left over: $leftover"
    ;;
  tarvel_ctrl_c_program)
    # Ctrl+C in the middle of a --program job: it ends by Ctrl+C, never with
    # 0, says how many CVs it wrote and how to restore the backup, and the
    # backup is whole.
    awk 'BEGIN { for (i = 1; i <= 3000; i++) printf "CV %d = %d\r\n", (i - 1) % 20 + 1, i % 256 }' \
      >"$work/big.txt"
    run 65001 "$tarvel" --program "$work/big.txt" --backup "$work/old.txt" "sim:$receiver"
    e2e_wait_for "20 CVs gesichert"
    e2e_wait_for_line '^CV +[0-9]+ += '
    sleep 1
    e2e_keys C-c
    expect_after 65001 3221225786
    for said in "geschriebenen CVs, der Empfänger ist jetzt teilweise programmiert." \
      "Die alten Werte stellt wieder her: tarvel --program $work/old.txt sim:$receiver"; do
      # The console breaks a long line into rows of its own: joined here.
      e2e_history | tr -d '\n' | grep -qF -- "$said" || e2e_fail "the note does not say: $said"
    done
    [ "$(grep -c '^CV' "$work/old.txt")" -eq 20 ] || e2e_fail "the backup is not whole"
    ;;
  tarvel_ctrl_c_write)
    # Ctrl+C in the middle of a --write job: it ends by Ctrl+C, never with 0,
    # and says how many CVs it wrote.
    list=$(awk 'BEGIN { for (i = 1; i <= 256; i++) printf "%d=%d,%da=%d%s", i, i % 256, i, i % 256, i < 256 ? "," : "" }')
    run 65001 "$tarvel" --write "$list" "sim:$receiver"
    e2e_wait_for_line '^CV +[0-9]+a? += '
    sleep 1
    e2e_keys C-c
    expect_after 65001 3221225786
    e2e_history | tr -d '\n' | grep -qF -- "geschriebenen CVs, der Empfänger ist jetzt teilweise programmiert." ||
      e2e_fail "the note does not say how many CVs were written"
    e2e_history | tr -d '\n' | grep -qF -- "tarvel --write 1=1,1a=1,2=2," ||
      e2e_fail "the note does not name the --write"
    ;;
  morrex_437) morrex_bad_cpu 437 ;;
  morrex_65001) morrex_bad_cpu 65001 ;;
  morrex_flash) morrex_flash ;;
  keys_65001)
    # A typed ä arrives as 0x84, its code page 850 byte, not as UTF-8.
    run 65001 "$key_echo"
    e2e_wait_for "key_echo ready"
    e2e_keys -l "ä"
    e2e_wait_for "key 0x84"
    e2e_keys q
    expect_after 65001 0
    ;;
  *) e2e_fail "unknown case $case_name" ;;
esac
echo PASS
