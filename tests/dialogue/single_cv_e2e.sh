#!/bin/sh
# tarvel in a real terminal: e, 17, Enter, l reads CV 17 as the virtual
# receiver holds it; programming it in binary (F1) changes the receiver, and a
# second read shows the new value. Usage: single_cv_e2e.sh TARVEL
set -eu
tarvel=$1
work=$(mktemp -d)
server=tarvel_single_cv_$$
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

# How often the screen shows a text.
count() { screen | grep -cF -- "$1" || true; }

keys() { tmux -L "$server" send-keys -t "$session" "$@"; }

prompt='CV-Nummer eingeben (1..256, Alternative CVs 1001..1256):'

tmux -L "$server" new-session -d -s "$session" -x 100 -y 40 \
  "env ORN_VIRTUAL_CLOCK=1 '$tarvel' 'sim:$work/receiver'; echo \$? >'$work/exit'; sleep 60"
wait_for "Kommandos:" "q oder ESC"

keys e
wait_for "$prompt 1"
keys 1 7 Enter
wait_for "l..esen oder p..rogrammieren"
keys l
wait_for "CV Nr 17 auslesen..." "CV   17  = 16 (0001 0000)" "$prompt 18"

# Program CV 17 in binary: the decimal default is the value just read.
keys 1 7 Enter p
wait_for "neuer Wert: (F1->Binäreingabe) 16"
keys F1
wait_for "neuer Wert: (F2->Dezimaleingabe) 0001 0000"
keys 1 1 0 0 1 0 0 0 Enter
wait_for "$prompt 17"
grep -qx 'CV  17  = 200 (b1100 1000)' "$work/receiver/cvs.txt" ||
  fail "CV 17 not stored: $(grep '^CV  17  ' "$work/receiver/cvs.txt")"

# Read it back: Enter takes the offered 17, Enter at the question reads.
keys Enter Enter
wait_for "CV   17  = 200 (1100 1000)" "$prompt 18"
[ "$(count 'CV   17  = 16 (0001 0000)')" -eq 1 ] || fail "the first read shows twice"

keys Escape
sleep 0.3
keys q
tries=0
while [ ! -s "$work/exit" ]; do
  tries=$((tries + 1))
  [ "$tries" -gt 100 ] && fail "tarvel did not end after ESC, q"
  sleep 0.1
done
[ "$(cat "$work/exit")" = 0 ] || fail "exit code $(cat "$work/exit")"
grep -q ' ERR ' "$work/receiver/wire.log" && fail "protocol errors: $(grep ' ERR ' "$work/receiver/wire.log")"
echo "PASS"
