#!/bin/bash
# A job from the command line in a real terminal (tmux): the terminal's title
# shows the read-out's progress while it runs and is the user's own again
# afterwards, also when the job is ended by a signal; the summary is the last
# line, no key was needed, the terminal is restored. Usage: one_job_title_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup one_job_title

title() { e2e_tmux display -p -t e2e '#{pane_title}'; }

# Real time: the read-out lasts about 18 s, long enough to see its title and
# to end it in the middle.
start_read_out() {
  e2e_start bash -c 'printf "\033]0;mein Titel\007"; ORN_HOME= exec "$0" --read-out "$1" "sim:$2"' \
    "$tarvel" "$work/$1" "$work/receiver"
  seen=
  for ((tries = 0; tries < 300; tries++)); do
    shown=$(title)
    case $shown in
      "tarvel: Auslesen "*"% (noch "*")") seen=$shown; break ;;
    esac
    sleep 0.1
  done
  [ -n "$seen" ] || e2e_fail "the title never showed the progress (last: $(title))"
}

# Ended by a signal in the middle: the title comes back all the same.
for signal in TERM INT; do
  start_read_out "cut_$signal.txt"
  kill -$signal "$e2e_pid"
  e2e_wait_exit 20
  [ "$(title)" = "mein Titel" ] || e2e_fail "title after SIG$signal: $(title)"
  e2e_expect_terminal_restored
done

# A whole read-out on the virtual clock: the progress was seen above; here
# the title is the user's again after a job that ends by itself.
e2e_start bash -c 'printf "\033]0;mein Titel\007"; ORN_HOME= ORN_VIRTUAL_CLOCK=1 exec "$0" --read-out "$1" "sim:$2"' \
  "$tarvel" "$work/cvs.txt" "$work/receiver"
e2e_expect_exit 0 80
[ "$(title)" = "mein Titel" ] || e2e_fail "title afterwards: $(title)"
e2e_wait_for "398 von 398 CVs gelesen, 0 Lesefehler"
e2e_expect_quit_sequence "$work/receiver"
e2e_expect_terminal_restored
echo "PASS (seen: $seen)"
