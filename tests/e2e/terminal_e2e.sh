#!/bin/bash
# tarvel in a real terminal as a Linux user has it: Alt+letter at the menu and
# in the fields is the letter; the terminal's own cursor shape stays until
# Insert; a window resized to 40x12 and back is drawn again; Ctrl+Z and a
# continue, and signals that end it, leave the terminal right; file names and
# data file lines with umlauts are typed and shown as UTF-8.
# Usage: terminal_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup terminal
receiver=$work/receiver
prompt='CV-Nummer eingeben (1..256, Alternative CVs 1001..1256):'
shape=$'\e\\[[0-9] q'

e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$receiver"
e2e_wait_for "Kommandos:" "q oder ESC .. Beenden"
# Everything the program writes from here on.
e2e_tmux pipe-pane -O -t e2e "cat >>'$work/out.raw'"

# Alt+e at the menu is e (it used to quit); Alt+digits in the field are the
# digits, Alt+l at the question reads.
e2e_keys M-e
e2e_wait_for "$prompt 1"
e2e_keys M-1 M-7 Enter
e2e_wait_for "l..esen oder p..rogrammieren"
e2e_keys M-l
e2e_wait_for "CV   17  = 16 (0001 0000)" "$prompt 18"
[ -s "$work/exit" ] && e2e_fail "tarvel ended on an Alt key"

# Two fields so far, and no cursor shape sent: the terminal's own stays.
grep -qaE "$shape" "$work/out.raw" && e2e_fail "a cursor shape was sent before Insert"
e2e_keys IC
tries=0
until grep -qaF $'\e[2 q' "$work/out.raw"; do
  tries=$((tries + 1))
  [ $tries -gt 50 ] && e2e_fail "Insert gave no block cursor"
  sleep 0.1
done
# ESC leaves the field: the terminal's own shape again.
e2e_keys Escape
e2e_wait_for "Kommandos:"
sleep 0.3
[ "$(grep -aoE "$shape" "$work/out.raw" | tail -n 1)" = $'\e[0 q' ] ||
  e2e_fail "the terminal's own cursor shape is not back after the field"

# A smaller window: what fits is drawn again where it was, nothing else.
top_before=$(e2e_screen | head -n 12 | cut -c 1-40 | sed 's/ *$//')
e2e_tmux resize-window -t e2e -x 40 -y 12
sleep 0.5
[ "$(e2e_screen)" = "$top_before" ] || e2e_fail "not drawn again at 40x12"
[ "$(e2e_screen | wc -l)" -eq 12 ] || e2e_fail "the pane is not 12 rows"
# Back to 100x40: any key at the menu draws it whole, once.
e2e_tmux resize-window -t e2e -x 100 -y 40
sleep 0.5
e2e_keys x
e2e_wait_for "Kommandos:" "q oder ESC .. Beenden"
[ "$(e2e_screen | grep -cF 'q oder ESC .. Beenden')" -eq 1 ] || e2e_fail "the menu shows more than once"
# And the program goes on as before.
e2e_keys e
e2e_wait_for "$prompt 18"
e2e_keys Escape
e2e_wait_for "Kommandos:"
sleep 0.3
e2e_quit "$receiver"

# Ctrl+Z at the menu, tarvel started from a shell with job control: stopped
# with the terminal as before and line wrap on; fg takes the raw mode back,
# draws the menu again over the shell's lines, and keys work.
wrap_flag() { e2e_tmux display-message -p -t e2e '#{wrap_flag}'; }
state_of() { sed 's/.*) //' "/proc/$1/stat" | cut -d' ' -f1; }
e2e_start env PS1='$ ' sh
pane_tty=$(e2e_tmux display-message -p -t e2e '#{pane_tty}')
e2e_keys "ORN_VIRTUAL_CLOCK=1 $tarvel sim:$receiver" Enter
e2e_wait_for "Kommandos:"
tarvel_pid=$(tr -d ' ' <"/proc/$e2e_pid/task/$e2e_pid/children")
e2e_keys C-z
tries=0
until [ "$(state_of "$tarvel_pid")" = T ]; do
  tries=$((tries + 1))
  [ $tries -gt 50 ] && e2e_fail "Ctrl+Z did not stop tarvel"
  sleep 0.1
done
stty -a -F "$pane_tty" >"$work/stty.stopped"
cmp -s "$work/stty.before" "$work/stty.stopped" ||
  e2e_fail "terminal settings while stopped: $(diff "$work/stty.before" "$work/stty.stopped")"
[ "$(wrap_flag)" = 1 ] || e2e_fail "line wrap off while stopped"
e2e_keys "fg" Enter
tries=0
while e2e_screen | grep -q '^\$ fg'; do
  tries=$((tries + 1))
  [ $tries -gt 50 ] && e2e_fail "the screen was not drawn again after fg"
  sleep 0.1
done
e2e_wait_for "Kommandos:" "q oder ESC .. Beenden"
stty -a -F "$pane_tty" | grep -q -- '-icanon' || e2e_fail "line editing on after fg"
[ "$(wrap_flag)" = 0 ] || e2e_fail "line wrap on after fg"
e2e_keys e
e2e_wait_for "$prompt 1"
e2e_keys Escape
e2e_wait_for "Kommandos:"
sleep 0.3
e2e_keys q
tries=0
while kill -0 "$tarvel_pid" 2>/dev/null; do
  tries=$((tries + 1))
  [ $tries -gt 50 ] && e2e_fail "q did not end tarvel after fg"
  sleep 0.1
done
e2e_expect_quit_sequence "$receiver"
e2e_keys "exit" Enter
e2e_expect_exit 0
e2e_expect_terminal_restored

# A signal that ends it: the terminal as before, line wrap on.
for signal in USR1 ALRM; do
  e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$receiver"
  e2e_wait_for "Kommandos:"
  kill -s "$signal" "$e2e_pid"
  e2e_expect_exit $((128 + $(kill -l "$signal")))
  e2e_expect_terminal_restored
  [ "$(wrap_flag)" = 1 ] || e2e_fail "line wrap off after SIG$signal"
done

# A name with an umlaut typed at the file prompt: the file gets that name in
# UTF-8, and the question about it shows it as typed.
e2e_start env ORN_VIRTUAL_CLOCK=1 "$tarvel" "sim:$receiver"
e2e_wait_for "Kommandos:"
e2e_keys a
e2e_wait_for "Datendatei (*.txt):"
e2e_keys -l "$work/Mäuse"
e2e_wait_for "$work/Mäuse"
e2e_keys Enter
e2e_wait_for "Abbruch mit ESC" "Kommandos:"
[ "$(wc -l <"$work/Mäuse.txt")" -eq 398 ] || e2e_fail "no read-out into Mäuse.txt"
e2e_keys a
e2e_wait_for "$work/Mäuse.txt existiert bereits! Löschen?"
e2e_keys n
e2e_wait_for "Kommandos:"

# Data file lines with umlauts are shown as they are in the file.
printf 'Größe = 5\nCV 3 = 99 Grüße\n' >"$work/Prüfung.txt"
e2e_keys p
e2e_wait_for "Datendatei (*.txt):"
e2e_keys -l "$work/Prüfung.txt"
e2e_keys Enter
e2e_wait_for "Größe = 5: ungültige zeile: keine CV-Nummer" "Kommandos:"
e2e_cv_line "$receiver/cvs.txt" 3 | grep -qx 'CV   3  =  99 (b0110 0011)' || e2e_fail "CV 3 not programmed"
e2e_quit "$receiver"
echo PASS
