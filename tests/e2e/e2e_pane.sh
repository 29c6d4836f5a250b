#!/bin/bash
# What runs in the tmux pane of an end-to-end story: the terminal settings
# before and after the program, its process id (for its CPU time) and its exit
# code, all as files in WORK. The pane stays open afterwards so that the screen
# can still be read. Usage: e2e_pane.sh WORK COMMAND [ARGUMENT]...
work=$1
shift
stty -a >"$work/stty.before"
# A subshell that becomes the program: its id is the program's.
(
  echo "$BASHPID" >"$work/pid"
  exec "$@"
)
code=$?
stty -a >"$work/stty.after"
echo "$code" >"$work/exit"
exec sleep 600
