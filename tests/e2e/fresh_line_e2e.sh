#!/bin/bash
# What the shell prints after tarvel starts on a line of its own: after q at
# the menu, after a signal that ends it at the menu, and (without a blank line
# added) after output that already ended its line. Output redirected to a file
# keeps its bytes: no line end is added there.
# Usage: fresh_line_e2e.sh TARVEL
set -eu
source "$(dirname "$0")/e2e_lib.sh"
tarvel=$1
e2e_setup fresh_line
marker=SHELL-SPEAKS

# run_then_marker ARGS...: tarvel ARGS in the pane, then the shell's marker.
run_then_marker() {
  e2e_start bash -c '"$0" "$@"; code=$?; printf "%s\n" '"$marker"'; exit $code' \
    env ORN_VIRTUAL_CLOCK=1 "$tarvel" "$@"
}

# The screen line holding the marker, and the one above it.
marker_line() { e2e_screen | grep -F "$marker" | head -n 1; }
line_above_marker() { e2e_screen | grep -B1 -F "$marker" | head -n 1; }

expect_marker_alone() {  # expect_marker_alone CASE
  local tries=0
  until [ -n "$(marker_line)" ]; do
    tries=$((tries + 1))
    [ $tries -gt 100 ] && e2e_fail "$1: the shell's marker never came"
    sleep 0.1
  done
  [ "$(marker_line)" = "$marker" ] || e2e_fail "$1: the shell went on mid-line: '$(marker_line)'"
}

# case | how it ends | the line above the marker must not be blank
cases=(
  "q at the menu|keys q|1"
  "ESC at the menu|keys Escape|1"
  "SIGTERM at the menu|signal TERM|1"
  "SIGHUP at the menu|signal HUP|1"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name ending above <<<"$row"
  rm -rf "$work/receiver"
  run_then_marker "sim:$work/receiver"
  e2e_wait_for "q oder ESC .. Beenden"
  case $ending in
    keys*) e2e_keys "${ending#keys }" ;;
    signal*)
      target=$(pgrep -P "$e2e_pid" -x "$(basename "$tarvel")" || true)
      [ -n "$target" ] || e2e_fail "$name: no tarvel under the pane's shell"
      kill -s "${ending#signal }" "$target" ;;
  esac
  expect_marker_alone "$name"
  [ "$above" = 1 ] && [ -z "$(line_above_marker | tr -d ' ')" ] &&
    e2e_fail "$name: a blank line before the shell's output"
done

# Output that ends its own line gets no second line end: --help's last line
# is right above the marker.
run_then_marker --help
expect_marker_alone "--help"
[ -n "$(line_above_marker | tr -d ' ')" ] || e2e_fail "--help: a blank line added after it"

# Redirected, the bytes are the program's own: the menu's last text, no CR LF
# after it, even with the keys from the terminal.
rm -rf "$work/receiver"
e2e_start bash -c '"$0" "$@" >"'"$work"'/redirected"' env ORN_VIRTUAL_CLOCK=1 "$tarvel" \
  "sim:$work/receiver"
tries=0
until grep -q "Beenden" "$work/redirected" 2>/dev/null; do
  tries=$((tries + 1))
  [ $tries -gt 100 ] && e2e_fail "redirected: the menu never came"
  sleep 0.1
done
e2e_keys q
e2e_expect_exit 0
[ "$(tail -c 7 "$work/redirected")" = "Beenden" ] ||
  e2e_fail "redirected output ends in: $(tail -c 20 "$work/redirected" | od -An -c)"
echo "ok"
