#!/bin/sh
# Keys as a real terminal sends them: tmux types F1, F2, Ctrl+Left, Shift+F1,
# Home, an umlaut and Ctrl+C into key_echo, which must show their key codes in
# yellow on blue; after a SIGTERM the shell in the pane must have its echo and
# line editing back, and tmux its line wrap; the same after SIGHUP, SIGINT,
# SIGQUIT and a normal end.
# Usage: key_echo_tmux.sh path/to/key_echo
set -u
. "$(dirname "$0")/key_echo_lib.sh"

program=$1
keys_setup console-keys

type_line "$program $work/pid"
wait_for "key_echo ready"
[ "$(tmux_ display-message -p -t "$session" '#{wrap_flag}')" = 0 ] ||
  fail "line wrap still on while the program runs"

key_shows 0x400070 F1
key_shows 0x400071 F2
key_shows 0x400425 C-Left
key_shows 0x401070 S-F1
key_shows 0x400024 Home
key_shows 0x84 -l "ä"
key_shows '0x3$' C-c
key_shows 0x1B Escape
key_shows 0x78 x

# From the first cell on.
expect_yellow_on_blue

# Still running after Ctrl+C; now end it as a system shutdown would.
wait_for_file "$work/pid"
kill -TERM "$(cat "$work/pid")" || fail "key_echo already gone"
sleep 0.3
kill -0 "$(cat "$work/pid")" 2>/dev/null && fail "key_echo survived SIGTERM"

stty_into after
grep -q ' echo ' "$work/after" || fail "echo is off after SIGTERM"
grep -q ' icanon ' "$work/after" || fail "line editing is off after SIGTERM"
cmp -s "$work/before" "$work/after" || fail "terminal settings differ after SIGTERM"
[ "$(tmux_ display-message -p -t "$session" '#{wrap_flag}')" = 1 ] ||
  fail "line wrap not back after SIGTERM"

# The other ways a terminal program is ended from outside restore as well.
for signal in HUP INT QUIT; do
  rm -f "$work/pid" "$work/after-$signal"
  type_line "clear; ulimit -c 0; $program $work/pid"
  wait_for "key_echo ready"
  wait_for_file "$work/pid"
  kill -"$signal" "$(cat "$work/pid")" || fail "key_echo gone before SIG$signal"
  sleep 0.3
  kill -0 "$(cat "$work/pid")" 2>/dev/null && fail "key_echo survived SIG$signal"
  expect_settings_kept "after-$signal" "SIG$signal"
done

# A normal end with q restores too.
type_line "clear; $program"
wait_for "key_echo ready"
key_shows 0x71 q
sleep 0.3
expect_settings_kept after-q q

echo "PASS"
