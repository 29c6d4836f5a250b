#!/bin/sh
# The terminal in every case, with key_echo run from a job-control shell in
# tmux: Alt+letter is the letter; Ctrl+Z gives the shell its terminal back as
# it was (settings, line wrap) and fg takes the program's mode back, draws the
# screen again and keys work; every signal that ends a process leaves the
# terminal as it was; a window resized to 40x12 and back is drawn again.
# Usage: terminal_signals_tmux.sh path/to/key_echo
set -u
. "$(dirname "$0")/key_echo_lib.sh"

program=$1
keys_setup terminal-signals

# Under a sanitizer its own handlers take SIGSEGV, SIGBUS and SIGFPE (and
# end the process without a word to the terminal); here ours are tested.
no_sanitizer_handlers=handle_segv=0:handle_sigbus=0:handle_sigfpe=0
start_echo() {
  rm -f "$work/pid"
  type_line "clear; ulimit -c 0; ASAN_OPTIONS=$no_sanitizer_handlers:\$ASAN_OPTIONS TSAN_OPTIONS=$no_sanitizer_handlers:\$TSAN_OPTIONS $program $work/pid"
  wait_for "key_echo ready"
  wait_for_file "$work/pid"
  pid=$(cat "$work/pid")
}
wrap_flag() { tmux_ display-message -p -t "$session" '#{wrap_flag}'; }
# R running or sleeping (S), T stopped; empty once gone.
process_state() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1; }
wait_state() {
  tries=0
  until [ "$(process_state "$pid")" = "$1" ]; do
    tries=$((tries + 1))
    [ $tries -gt 50 ] && fail "key_echo never in state '$1' (now '$(process_state "$pid")')"
    sleep 0.1
  done
}
raw_now() { stty -a -F "$(tmux_ display-message -p -t "$session" '#{pane_tty}')"; }

# Alt+letter: the letter, not ESC; the ESC key alone is still ESC.
start_echo
key_shows 0x65 M-e
key_shows 0x45 M-E
key_shows 0x72 -l "$(printf '\033r')"
screen | grep -q "key 0x1B" && fail "an Alt key gave an ESC key"
key_shows 0x1B Escape
key_shows 0x78 x

# Ctrl+Z: stopped, the shell's terminal as before, line wrap back on.
tmux_ send-keys -t "$session" C-z
wait_state T
expect_settings_kept stopped "Ctrl+Z"
[ "$(wrap_flag)" = 1 ] || fail "line wrap off while key_echo is stopped"
# fg: raw again, the screen drawn again over the shell's lines, keys work.
type_line "fg"
wait_for "key_echo ready"
tries=0
while screen | grep -q 'stty\|fg'; do
  tries=$((tries + 1))
  [ $tries -gt 30 ] && fail "the screen was not drawn again after fg"
  sleep 0.1
done
raw_now | grep -q -- '-icanon' || fail "line editing still on after fg"
[ "$(wrap_flag)" = 0 ] || fail "line wrap still on after fg"
key_shows 0x79 y
expect_yellow_on_blue

# A window resized while it runs: drawn again at 40x12 and back at 80x25.
tmux_ resize-window -t "$session" -x 40 -y 12
wait_for "key 0x79"
sleep 0.3
[ "$(screen | head -n 1)" = "key_echo ready" ] || fail "not drawn again at 40x12"
tmux_ resize-window -t "$session" -x 80 -y 25
sleep 0.3
key_shows 0x7A z
# 20 more lines scroll at the last of 25 rows, not at the 12th.
tmux_ send-keys -t "$session" a b c d e f g h i j k l m n o p r s t u
wait_for "key 0x75"
[ "$(screen | sed -n 24p)" = "key 0x75" ] || fail "the screen is not 25 rows again"
[ "$(screen | sed -n 23p)" = "key 0x74" ] || fail "lines lost after the resize"
key_shows 0x71 q
sleep 0.3
expect_settings_kept after-q "q after the stop"

# Every other signal that ends a process restores the terminal (SIGTERM,
# SIGHUP, SIGINT and SIGQUIT: key_echo_tmux.sh).
for signal in USR1 USR2 ALRM VTALRM PROF ABRT SEGV BUS FPE ILL TRAP SYS XCPU XFSZ IO PWR \
  STKFLT RTMIN RTMAX; do
  start_echo
  bash -c 'kill -s "$0" "$1"' "$signal" "$pid" || fail "key_echo gone before SIG$signal"
  tries=0
  while kill -0 "$pid" 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -gt 30 ] && fail "key_echo survived SIG$signal"
    sleep 0.1
  done
  expect_settings_kept "after-$signal" "SIG$signal"
  [ "$(wrap_flag)" = 1 ] || fail "line wrap not back after SIG$signal"
done

echo "PASS"
