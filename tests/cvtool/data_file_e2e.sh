#!/bin/sh
# tarvel in a real terminal: program a receiver from a data file (p), refuse to
# overwrite that file (a, n), read the receiver out into a new file chosen at
# the prompt (a), quit (q). Usage: data_file_e2e.sh TARVEL
set -eu
tarvel=$1
# No dot anywhere in the path, so that the prompt's answer gets ".txt".
work=$(mktemp -d /tmp/tarvel_data_file_XXXXXX)
server=tarvel_data_file_$$
session=e2e
cleanup() {
  tmux -L "$server" kill-server 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "---- screen"
  tmux -L "$server" capture-pane -p -t "$session" 2>/dev/null || true
  exit 1
}

screen() { tmux -L "$server" capture-pane -p -t "$session"; }

# Waits until the screen shows every given text (fixed strings).
wait_for() {
  tries=0
  while :; do
    shown=$(screen)
    missing=
    for text in "$@"; do
      printf '%s' "$shown" | grep -qF -- "$text" || missing=$text
    done
    [ -z "$missing" ] && return 0
    tries=$((tries + 1))
    [ "$tries" -gt 300 ] && fail "never showed: $missing"
    sleep 0.1
  done
}

keys() { tmux -L "$server" send-keys -t "$session" "$@"; }

cd "$work"
mkdir receiver
printf 'CV 1 = 200\r\nCV 7a = b0000 1100\nCV 300 = 1\nCV  29  =   6 (b0000 0110)\n' >cvs.txt
cp cvs.txt cvs.orig

tmux -L "$server" new-session -d -s "$session" -x 100 -y 40 \
  "env ORN_VIRTUAL_CLOCK=1 '$tarvel' 'sim:$work/receiver' cvs.txt; echo \$? >'$work/exit'; sleep 60"
wait_for "Kommandos:" "q oder ESC"

keys p
wait_for "Abbruch mit ESC" "CV 300 = 1: ungültige zeile: CV muss zwischen 1 und 256 liegen" "Kommandos:"
grep -qx 'CV   1  = 200 (b1100 1000)' receiver/cvs.txt || fail "CV 1 not programmed"
grep -qx 'CV   7a =  12 (b0000 1100)' receiver/cvs.txt || fail "CV 7a not programmed"
grep -qx 'CV  29  =   6 (b0000 0110)' receiver/cvs.txt || fail "CV 29 not programmed"

# The file name is kept after p: a asks before overwriting, n keeps the file.
keys a
wait_for "cvs.txt existiert bereits! Löschen?"
keys n
wait_for "Kommandos:"
cmp -s cvs.txt cvs.orig || fail "n overwrote the data file"

# n emptied the name: the next a asks for a file.
keys a
wait_for "Datendatei (*.txt):"
keys n e u x BSpace
wait_for "Datendatei (*.txt): neu"
keys Enter
wait_for "Abbruch mit ESC" "Kommandos:"
[ -f neu.txt ] || fail "no neu.txt (the .txt rule, relative to the working directory)"
[ "$(wc -l <neu.txt)" -eq 398 ] || fail "neu.txt has $(wc -l <neu.txt) lines, not 398"
grep -qx 'CV   1  = 200 (b1100 1000)' neu.txt || fail "read-out lacks CV 1 = 200"
grep -qx 'CV   7a =  12 (b0000 1100)' neu.txt || fail "read-out lacks CV 7a = 12"
grep -qx 'CV   2  =   1 (b0000 0001)' neu.txt || fail "read-out lacks factory CV 2 = 1"
grep -qx 'CV 199a =  57 (b0011 1001)' neu.txt || fail "read-out lacks CV 199a = 57"
grep -q 'Lesefehler' neu.txt && fail "read errors on a healthy receiver"

keys q
tries=0
while [ ! -s "$work/exit" ]; do
  tries=$((tries + 1))
  [ "$tries" -gt 100 ] && fail "tarvel did not end after q"
  sleep 0.1
done
[ "$(cat "$work/exit")" = 0 ] || fail "exit code $(cat "$work/exit")"
[ "$(grep ' TX ' receiver/wire.log | tail -n 4 | grep -c ' TX EE$')" -eq 4 ] ||
  fail "the last bytes sent are not the quit sequence: $(tail -n 6 receiver/wire.log)"
[ "$(tail -n 1 receiver/wire.log | cut -d' ' -f2-)" = "STATE running" ] ||
  fail "the receiver did not leave service mode: $(tail -n 1 receiver/wire.log)"
echo "PASS"
