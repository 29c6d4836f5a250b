#!/bin/sh
# key_echo.exe under Wine in tmux: Wine's console on a terminal turns the
# terminal's key sequences into key events, and key_echo must show the codes
# our console layer makes of them, yellow on blue; after q the terminal's
# settings are as before.
# What Wine 8's terminal console cannot deliver is left out: tmux's Home and
# End (ESC[1~, ESC[4~) give no event, so Home is sent in xterm's form ESC[H;
# a lone ESC gives no event; Ctrl+C stays a signal that ends the program.
# Usage: key_echo_wine_tmux.sh path/to/key_echo.exe path/to/wine-run
set -u

program=$1
wine_run=$2
: "${WINEPREFIX:?WINEPREFIX must name the build folder's Wine prefix}"
server=console-wine-keys-$$
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

# Waits up to $2 tenths of a second (default 50) for text on the screen.
wait_for() {
  tries=0
  while ! screen | grep -q -- "$1"; do
    tries=$((tries + 1))
    [ $tries -gt "${2:-50}" ] && fail "no \"$1\" on the screen"
    sleep 0.1
  done
}

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

tmux_ send-keys -t "$session" \
  "WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all '$wine_run' '$program'; echo ended > $work/ended" Enter
wait_for "key_echo ready" 300

tmux_ send-keys -t "$session" F1
wait_for "key 0x400070"
tmux_ send-keys -t "$session" F2
wait_for "key 0x400071"
tmux_ send-keys -t "$session" C-Left
wait_for "key 0x400425"
tmux_ send-keys -t "$session" S-F1
wait_for "key 0x401070"
tmux_ send-keys -t "$session" -H 1b 5b 48
wait_for "key 0x400024"
tmux_ send-keys -t "$session" -l "ä"
wait_for "key 0x84"
tmux_ send-keys -t "$session" x
wait_for "key 0x78"

# Yellow (bright, 93) on blue (44), and no other colour.
esc=$(printf '\033')
colours=$(tmux_ capture-pane -e -p -t "$session" | grep -o "$esc\[[0-9;]*m" | tr -d "$esc" | sort -u | tr '\n' ' ')
[ "$colours" = "[44m [93m " ] || fail "colours on the screen are $colours, not yellow on blue"

tmux_ send-keys -t "$session" q
wait_for "key 0x71"
wait_for_file "$work/ended"
tmux_ send-keys -t "$session" "stty -a > $work/after" Enter
wait_for_file "$work/after"
cmp -s "$work/before" "$work/after" || fail "terminal settings differ after q"

echo "PASS"
