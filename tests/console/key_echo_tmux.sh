#!/bin/sh
# Keys as a real terminal sends them: tmux types F1, F2, Ctrl+Left, Shift+F1,
# Home, an umlaut and Ctrl+C into key_echo, which must show their key codes in
# yellow on blue; after a SIGTERM the shell in the pane must have its echo and
# line editing back, and tmux its line wrap; the same after SIGHUP, SIGINT,
# SIGQUIT and a normal end.
# Usage: key_echo_tmux.sh path/to/key_echo
set -u

program=$1
server=console-keys-$$
session=keys
work=$(mktemp -d)

tmux_() { tmux -L "$server" "$@"; }
cleanup() {
  tmux_ kill-server 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "--- screen:"
  tmux_ capture-pane -p -t "$session" 2>/dev/null
  exit 1
}

screen() { tmux_ capture-pane -p -t "$session"; }

# Waits up to 5 s for text on the screen.
wait_for() {
  tries=0
  while ! screen | grep -q -- "$1"; do
    tries=$((tries + 1))
    [ $tries -gt 50 ] && fail "no \"$1\" on the screen"
    sleep 0.1
  done
}

# Waits up to 5 s for a file to have content.
wait_for_file() {
  tries=0
  while [ ! -s "$1" ]; do
    tries=$((tries + 1))
    [ $tries -gt 50 ] && fail "no $1"
    sleep 0.1
  done
}

tmux_ -f /dev/null new-session -d -s "$session" -x 80 -y 25 "env PS1='$ ' sh" ||
  fail "tmux does not start"
tmux_ send-keys -t "$session" "stty -a > $work/before; clear" Enter
wait_for_file "$work/before"

tmux_ send-keys -t "$session" "$program $work/pid" Enter
wait_for "key_echo ready"
[ "$(tmux_ display-message -p -t "$session" '#{wrap_flag}')" = 0 ] ||
  fail "line wrap still on while the program runs"

tmux_ send-keys -t "$session" F1
wait_for "key 0x400070"
tmux_ send-keys -t "$session" F2
wait_for "key 0x400071"
tmux_ send-keys -t "$session" C-Left
wait_for "key 0x400425"
tmux_ send-keys -t "$session" S-F1
wait_for "key 0x401070"
tmux_ send-keys -t "$session" Home
wait_for "key 0x400024"
tmux_ send-keys -t "$session" -l "ä"
wait_for "key 0x84"
tmux_ send-keys -t "$session" C-c
wait_for "key 0x3\$"
tmux_ send-keys -t "$session" Escape
wait_for "key 0x1B"
tmux_ send-keys -t "$session" x
wait_for "key 0x78"

# Yellow (bright, 93) on blue (44) from the first cell on, and no other colour.
esc=$(printf '\033')
colours=$(tmux_ capture-pane -e -p -t "$session" | grep -o "$esc\[[0-9;]*m" | tr -d "$esc" | sort -u | tr '\n' ' ')
[ "$colours" = "[44m [93m " ] || fail "colours on the screen are $colours, not yellow on blue"

# Still running after Ctrl+C; now end it as a system shutdown would.
wait_for_file "$work/pid"
kill -TERM "$(cat "$work/pid")" || fail "key_echo already gone"
sleep 0.3
kill -0 "$(cat "$work/pid")" 2>/dev/null && fail "key_echo survived SIGTERM"

tmux_ send-keys -t "$session" "stty -a > $work/after" Enter
wait_for_file "$work/after"
grep -q ' echo ' "$work/after" || fail "echo is off after SIGTERM"
grep -q ' icanon ' "$work/after" || fail "line editing is off after SIGTERM"
cmp -s "$work/before" "$work/after" || fail "terminal settings differ after SIGTERM"
[ "$(tmux_ display-message -p -t "$session" '#{wrap_flag}')" = 1 ] ||
  fail "line wrap not back after SIGTERM"

# The other ways a terminal program is ended from outside restore as well.
for signal in HUP INT QUIT; do
  rm -f "$work/pid" "$work/after-$signal"
  tmux_ send-keys -t "$session" "clear; ulimit -c 0; $program $work/pid" Enter
  wait_for "key_echo ready"
  wait_for_file "$work/pid"
  kill -"$signal" "$(cat "$work/pid")" || fail "key_echo gone before SIG$signal"
  sleep 0.3
  kill -0 "$(cat "$work/pid")" 2>/dev/null && fail "key_echo survived SIG$signal"
  tmux_ send-keys -t "$session" "stty -a > $work/after-$signal" Enter
  wait_for_file "$work/after-$signal"
  cmp -s "$work/before" "$work/after-$signal" || fail "terminal settings differ after SIG$signal"
done

# A normal end with q restores too.
tmux_ send-keys -t "$session" "clear; $program" Enter
wait_for "key_echo ready"
tmux_ send-keys -t "$session" q
wait_for "key 0x71"
sleep 0.3
tmux_ send-keys -t "$session" "stty -a > $work/after-q" Enter
wait_for_file "$work/after-q"
cmp -s "$work/before" "$work/after-q" || fail "terminal settings differ after q"

echo "PASS"
