#!/bin/bash
# A read-out ended by a signal, in real time, from the menu (a) and as a job
# (--read-out): each row checks that the old file is byte for byte as it was,
# that the lines read are kept beside it in whole lines of the receiver's own
# values, that nothing half-written is left, and that the program ends at once
# by that signal. Usage: read_out_signals_e2e.sh TARVEL
set -u
set -m  # each row its own process group: a background job takes INT too
tarvel=$1
work=$(mktemp -d /tmp/read_out_signals_XXXXXX)
trap 'rm -rf "$work"' EXIT
unset ORN_VIRTUAL_CLOCK
export ORN_HOME=
failures=0
old='CV 1 = 7 (die alte Sicherung)'

fail() {
  echo "FAIL [$row]: $*"
  failures=$((failures + 1))
}

# A receiver whose read-out we know: a first, complete read-out of it.
ORN_VIRTUAL_CLOCK=1 "$tarvel" --read-out "$work/factory.txt" "sim:$work/r" >/dev/null 2>&1 </dev/null ||
  fail "the reference read-out failed"

# how | signal | lines to wait for (0: signal during the reset, before any read)
while IFS='|' read -r how signal lines; do
  row="$how, SIG$signal after $lines lines"
  rm -f "$work/cvs.txt" "$work/cvs.txt.teil" "$work"/.neu-*
  printf '%s\n' "$old" >"$work/cvs.txt"
  if [ "$how" = menu ]; then
    # a, then J to the overwrite question; the pipe stays open.
    (printf 'aj'; sleep 60) | "$tarvel" "sim:$work/r" "$work/cvs.txt" >"$work/out" 2>&1 &
  else
    "$tarvel" --force --read-out "$work/cvs.txt" "sim:$work/r" >"$work/out" 2>&1 </dev/null &
  fi
  job=$!
  started=$SECONDS
  # Wait until the new file holds the lines (or the program is in its reset).
  for ((tries = 0; tries < 200; tries++)); do
    new=$(ls "$work"/.neu-* 2>/dev/null | head -n 1)
    if [ -n "$new" ] && [ "$(wc -l <"$new")" -ge "$lines" ]; then break; fi
    sleep 0.05
  done
  [ -n "$new" ] || fail "no new file beside the target while reading"
  kill -"$signal" -- "-$job"
  wait "$job" 2>/dev/null
  status=$?
  [ "$status" -eq $((128 + $(kill -l "$signal"))) ] || fail "exit status $status, not by the signal"
  [ $((SECONDS - started)) -le 15 ] || fail "took $((SECONDS - started)) s"
  [ "$(cat "$work/cvs.txt")" = "$old" ] || fail "the old file changed: $(head -c 100 "$work/cvs.txt")"
  ls "$work"/.neu-* >/dev/null 2>&1 && fail "a half-written file is left: $(ls -a "$work")"
  if [ "$lines" -eq 0 ]; then
    [ ! -e "$work/cvs.txt.teil" ] || fail "lines kept although none was read"
  else
    kept=$work/cvs.txt.teil
    [ -s "$kept" ] || fail "the lines read are not kept"
    [ "$(tail -c 1 "$kept" | od -An -c | tr -d ' ')" = '\n' ] || fail "the kept file ends in a cut line"
    [ "$(wc -l <"$kept")" -ge "$lines" ] || fail "only $(wc -l <"$kept") lines kept"
    [ "$(grep -cvxFf "$work/factory.txt" "$kept")" -eq 0 ] ||
      fail "kept lines that are not the receiver's: $(grep -vxFf "$work/factory.txt" "$kept" | head -n 2)"
    grep -qF "Die gelesenen Zeilen stehen in $kept" "$work/out" || fail "no word of where: $(tail -c 300 "$work/out")"
  fi
done <<EOF
job|TERM|5
job|HUP|5
job|INT|5
job|TERM|0
menu|TERM|5
menu|HUP|5
menu|INT|5
EOF

if [ $failures -gt 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo PASS
