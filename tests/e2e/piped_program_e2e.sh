#!/bin/bash
# A whole data file programmed from a script: 'pq' from a pipe writes every
# line of a 40-line file, not only those before the script's keys run out,
# then quits. Usage: piped_program_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup piped_program

for ((cv = 1; cv <= 20; cv++)); do
  printf 'CV %d = %d\nCV %da = %d\n' $cv $((100 + cv)) $cv $((200 + cv))
done >"$work/data.txt"
e2e_start bash -c 'printf pq | ORN_VIRTUAL_CLOCK=1 "$0" "sim:$1" "$2"' "$tarvel" "$work/receiver" "$work/data.txt"
e2e_expect_exit 0
e2e_expect_quit_sequence "$work/receiver"
e2e_expect_terminal_restored
writes=$(e2e_wire_commands "$work/receiver" | grep -c ' AE$' || true)
[ "$writes" -eq 40 ] || e2e_fail "$writes of the file's 40 lines were programmed"
for ((cv = 1; cv <= 20; cv++)); do
  [ "$(e2e_cv_line "$work/receiver/cvs.txt" $cv | awk '{ print $4 }')" = $((100 + cv)) ] || e2e_fail "CV $cv not programmed"
  [ "$(e2e_cv_line "$work/receiver/cvs.txt" ${cv}a | awk '{ print $4 }')" = $((200 + cv)) ] || e2e_fail "CV ${cv}a not programmed"
done
echo PASS
