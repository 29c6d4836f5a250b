#!/bin/bash
# Jobs and the terminal, from an interactive shell with job control in a real
# terminal (tmux): a job started in the background runs to its end (it never
# stops for the terminal); Ctrl+C and Ctrl+\ typed at the terminal, SIGTERM,
# SIGHUP and a closed terminal end a job like their signals, 128 + the
# signal's number; a programming run (--program, --write) ended so says how many CVs it wrote
# (which the receiver confirms), that the receiver is partly programmed and,
# with --backup, the command that restores it (which does); a read-out so
# ended leaves its file as it was and keeps the lines read; the terminal's
# settings stay the ones the shell gave the job; at the menu Ctrl+C stays a key.
# Usage: job_signals_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup job_signals
E2E_WAIT=60
receiver=$work/r
unset ORN_VIRTUAL_CLOCK
export ORN_HOME=

# The receiver's own values, and 3000 lines over CVs 1 to 199: a programming
# run of about a minute and a half in real time.
ORN_VIRTUAL_CLOCK=1 "$tarvel" --read-out "$work/factory.txt" "sim:$work/factory" \
  </dev/null >/dev/null 2>&1 || e2e_fail "no reference read-out"
awk 'BEGIN { for (i = 1; i <= 3000; i++) printf "CV %d = %d\n", (i - 1) % 199 + 1, i % 256 }' \
  >"$work/big.txt"
# The same first 199 values for --write, then the alternative CVs: a signal
# comes long before the 199th.
write_list=$(awk 'BEGIN { for (i = 1; i <= 199; i++) printf "%d=%d,", i, i
                          for (i = 1; i <= 256; i++) printf "%da=%d%s", i, i - 1, i < 256 ? "," : "" }')

shell_start() {
  e2e_start env PS1='$ ' bash --norc --noprofile -i
  shell_pid=$e2e_pid
  e2e_wait_for '$'
}
type_line() {
  e2e_keys -l "$1"
  e2e_keys Enter
}
# The shell's last exit status, as it reports it.
shell_status() {
  rm -f "$work/status"
  type_line "echo \$? >$work/status"
  local tries=0
  until [ -s "$work/status" ]; do
    tries=$((tries + 1))
    [ $tries -gt 100 ] && e2e_fail "the shell does not answer"
    sleep 0.1
  done
  cat "$work/status"
}
# The process the shell started in the foreground.
shell_child() {
  local stat tries=0
  while :; do
    for stat in /proc/[0-9]*/stat; do
      set -- $(sed 's/.*) //' "$stat" 2>/dev/null)
      [ "${2:-}" = "$shell_pid" ] && { basename "$(dirname "$stat")"; return; }
    done
    tries=$((tries + 1))
    [ $tries -gt 100 ] && e2e_fail "the shell started no program"
    sleep 0.1
  done
}
wait_gone() {
  local tries=0
  while kill -0 "$1" 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -gt 200 ] && e2e_fail "$row: the job did not end"
    sleep 0.1
  done
}
settings() { stty -a -F "$(e2e_tmux display-message -p -t e2e '#{pane_tty}')"; }
# The settings the shell gives a program it runs in the foreground.
take_program_settings() {
  type_line "sleep 2"
  sleep 1
  program_settings=$(settings)
  sleep 1.5
}

# CVs 1 to 199 as "CV VALUE" lines: of a receiver folder, or (expected N) as
# the reference receiver after the first N lines of big.txt.
receiver_values() { awk '$1 == "CV" && $2 ~ /^[0-9]+$/ && $2 <= 199 { print $2, $4 }' "$1/cvs.txt"; }
expected_values() {
  receiver_values "$work/factory" | awk -v n="$1" '{ v[$1] = $2 }
    END { for (i = 1; i <= n; i++) v[(i - 1) % 199 + 1] = i % 256
          for (c = 1; c <= 199; c++) print c, v[c] }'
}

# ---------------------------------------------------------------- background
# command | exit code the shell reports for it
shell_start
take_program_settings
while IFS='|' read -r command want; do
  row="background: $command"
  rm -rf "$receiver" "$work/log"
  type_line "ORN_VIRTUAL_CLOCK=1 $command & wait \$!"
  [ "$(shell_status)" = "$want" ] || e2e_fail "$row: exit $(cat "$work/status"), not $want"
done <<EOF
$tarvel -q --program $work/big.txt sim:$receiver >$work/log 2>&1|0
$tarvel --read-out $work/out.txt sim:$receiver|0
$tarvel --compare $work/big.txt sim:$receiver </dev/null >$work/log 2>&1|1
$tarvel --line-test sim:$receiver >$work/log 2>&1|0
EOF
[ "$(grep -c '^CV' "$work/out.txt")" -eq 398 ] || e2e_fail "the background read-out is not whole"

# ---------------------------------------------------------------- at the menu
row="menu"
type_line "ORN_VIRTUAL_CLOCK=1 $tarvel sim:$receiver"
e2e_wait_for "q oder ESC .. Beenden"
menu_pid=$(shell_child)
e2e_keys C-c
sleep 1
kill -0 "$menu_pid" 2>/dev/null || e2e_fail "Ctrl+C ended the menu"
e2e_keys q
wait_gone "$menu_pid"
[ "$(shell_status)" = 0 ] || e2e_fail "the menu ended with $(cat "$work/status")"

# ---------------------------------------------------------------- signals
# Until the receiver has been in service mode for 4 s (the line's check done,
# CVs written or read).
wait_in_service() {
  local tries=0
  until grep -q ' STATE service$' "$receiver/wire.log" 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -gt 300 ] && e2e_fail "$row: the receiver never came into service mode"
    sleep 0.1
  done
  sleep 4
}

# Waits until the job writes (or reads) CVs, checks that the terminal's
# settings are the ones the shell gave it, ends it as the row says, and
# checks its exit code.
end_job() {  # end_job HOW CODE
  wait_in_service
  [ "$(settings)" = "$program_settings" ] || e2e_fail "$row: the job changed the terminal's settings"
  local pid
  pid=$(shell_child)
  case $1 in
    C-*) e2e_keys "$1" ;;
    *) kill -s "$1" "$pid" ;;
  esac
  wait_gone "$pid"
  [ "$(shell_status)" = "$2" ] || e2e_fail "$row: exit $(cat "$work/status"), not $2"
}

# The note names N CVs written, and the receiver holds the first N lines of
# the file (or N + 1: the write under way when the signal came may have
# arrived whole).
expect_written_as_said() {
  local note written
  note=$(grep -F 'abgebrochen nach' "$work/err") || e2e_fail "$row: no note: $(cat "$work/err")"
  written=$(sed -n 's/.*abgebrochen nach \([0-9]*\) geschriebenen CVs, der Empfänger ist jetzt teilweise programmiert\.$/\1/p' <<<"$note")
  [ -n "$written" ] || e2e_fail "$row: the note says: $note"
  receiver_values "$receiver" >"$work/got"
  expected_values "$written" | cmp -s - "$work/got" ||
    expected_values $((written + 1)) | cmp -s - "$work/got" ||
    e2e_fail "$row: the receiver does not hold the $written CVs the note names"
}

# what | how | exit code
while IFS='|' read -r what how code; do
  row="$what, $how"
  rm -rf "$receiver" "$work/old.txt" "$work/out.txt" "$work/out.txt.teil" "$work/err"
  case $what in
    program)
      type_line "$tarvel --program $work/big.txt sim:$receiver 2>$work/err"
      end_job "$how" "$code"
      expect_written_as_said
      ! grep -q 'wieder her' "$work/err" || e2e_fail "$row: a restore without a backup"
      ;;
    backup)
      type_line "$tarvel --program $work/big.txt --backup $work/old.txt sim:$receiver 2>$work/err"
      e2e_wait_for "199 CVs gesichert"
      end_job "$how" "$code"
      expect_written_as_said
      restore=$(sed -n 's/^Die alten Werte stellt wieder her: //p' "$work/err")
      [ "$restore" = "tarvel --program $work/old.txt sim:$receiver" ] ||
        e2e_fail "$row: the restore command is '$restore'"
      ORN_VIRTUAL_CLOCK=1 "$tarvel" ${restore#tarvel } </dev/null >/dev/null 2>&1 ||
        e2e_fail "$row: the restore failed"
      receiver_values "$receiver" | cmp -s - <(receiver_values "$work/factory") ||
        e2e_fail "$row: the restore did not give the receiver its values back"
      ;;
    write)
      type_line "$tarvel --write $write_list sim:$receiver 2>$work/err"
      end_job "$how" "$code"
      grep -qF "tarvel --write 1=1,2=2," "$work/err" || e2e_fail "$row: the note names no --write"
      expect_written_as_said
      ;;
    read-out)
      echo 'CV 1 = 7 (alt)' >"$work/out.txt"
      type_line "$tarvel --force --read-out $work/out.txt sim:$receiver 2>$work/err"
      end_job "$how" "$code"
      [ "$(cat "$work/out.txt")" = 'CV 1 = 7 (alt)' ] || e2e_fail "$row: the old file changed"
      [ "$(grep -c '^CV' "$work/out.txt.teil")" -gt 0 ] || e2e_fail "$row: no lines kept"
      grep -qF "Die gelesenen Zeilen stehen in $work/out.txt.teil" "$work/err" ||
        e2e_fail "$row: no word of the lines kept: $(cat "$work/err")"
      ;;
  esac
done <<EOF
program|C-c|130
program|C-\\|131
program|TERM|143
program|HUP|129
backup|C-c|130
write|TERM|143
read-out|C-c|130
EOF

# ---------------------------------------------------------------- a closed terminal
row="closed terminal"
rm -rf "$receiver" "$work/err"
type_line "$tarvel --program $work/big.txt sim:$receiver 2>$work/err"
wait_in_service
job=$(shell_child)
e2e_tmux kill-server
wait_gone "$job"
expect_written_as_said
echo PASS
