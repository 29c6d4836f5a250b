#!/bin/bash
# Text from outside on the Windows console under Wine (tmux as the terminal):
# data file lines and file names with controls are shown as glyphs, never
# obeyed, and lines in code page 850 or UTF-8 show their letters. Checked on
# the screen and on the bytes the terminal receives.
# Usage: outside_text_wine_tmux.sh CASE tarvel.exe morrex.exe wine-run
set -eu
source "$(dirname "$0")/../e2e/e2e_lib.sh"
case_name=$1 tarvel=$2 morrex=$3 wine_run=$4
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix of the build}"
# Wine takes its time to start.
E2E_WAIT=30
e2e_setup "wine_outside_$case_name"
receiver=$work/receiver

# Runs the program in the pane once every byte it writes is being kept.
run() {
  rm -f "$work/go" "$work/out.raw"
  e2e_start sh -c 'until [ -e "$0" ]; do sleep 0.1; done; exec "$@"' "$work/go" \
    env LC_ALL=C.UTF-8 ORN_HOME=1 ORN_VIRTUAL_CLOCK=1 "$wine_run" "$@"
  e2e_tmux pipe-pane -O -t e2e "cat >>'$work/out.raw'"
  touch "$work/go"
}

# Nothing reached the terminal that it could obey but the sequences of the
# console itself (CSI) and the program's window title (OSC 0 ... BEL).
expect_nothing_obeyable() {
  python3 - "$work/out.raw" <<'EOF' || e2e_fail "a control reached the terminal"
import re, sys
data = open(sys.argv[1], "rb").read()
text = re.sub(rb"\x1b\][0-9]*;[^\x07\x1b]*\x07|\x1b\[[0-9;?]*[ -/]*[@-~]", b"", data)
bad = re.search(rb"[\x00-\x09\x0b\x0c\x0e-\x1f\x7f]|\xc2[\x80-\x9f]", text)
if bad:
    print("raw", bad.group(), "in", text[max(0, bad.start() - 40):bad.end() + 40])
    sys.exit(1)
EOF
}

data_lines() {
  # One line per row: the bytes in the file, what the screen shows for them.
  local rows=(
    $'A\a' 'A•'
    $'B\b\b\bXYZ' 'B◘◘◘XYZ'
    $'C\e]0;T\a' 'C←]0;T•'
    $'D\x7f' 'D⌂'
    $'E\xc2\x9b8m' 'E┬ø8m'
    $'F\xc2\x9d0;T\xc2\x9c' 'F┬Ø0;T┬£'
    $'G\x9b8m' 'Gø8m'
    $'H\tx' 'H○x'
    $'Gr\x81\xe1e' 'Grüße'
    $'Gr\xc3\xbc\xc3\x9fe' 'Grüße'
  )
  local i
  : >"$work/p.txt"
  for ((i = 0; i < ${#rows[@]}; i += 2)); do
    printf 'CV %d = 300 %s\r\n' $((i / 2 + 1)) "${rows[i]}" >>"$work/p.txt"
  done
  printf 'CV 20 = 1\r\n' >>"$work/p.txt"
  # A short name, so that the summary fits on one row.
  cd "$work"
  run "$tarvel" --program p.txt "sim:$receiver"
  e2e_wait_for "p.txt: 1 CVs geschrieben, 10 Zeilen ungültig (Exit-Code 2)"
  e2e_expect_exit 2
  for ((i = 0; i < ${#rows[@]}; i += 2)); do
    e2e_wait_for "Zeile $((i / 2 + 1)): CV $((i / 2 + 1)) = 300 ${rows[i + 1]}: ungültige zeile: Wert muss"
  done
  expect_nothing_obeyable
  # The same lines refused by --compare, each named by its number.
  run "$tarvel" --compare p.txt "sim:$receiver"
  e2e_wait_for "p.txt: 1 CVs verglichen"
  e2e_expect_exit 2
  for ((i = 0; i < ${#rows[@]}; i += 2)); do
    e2e_wait_for "Zeile $((i / 2 + 1)): CV $((i / 2 + 1)) = 300 ${rows[i + 1]}: ungültige zeile"
  done
  expect_nothing_obeyable
}

names() {
  run "$tarvel" --program "$work/da"$'\a\b'"ten.txt" "sim:$receiver"
  e2e_wait_for "$work/da•◘ten.txt: "
  e2e_expect_exit 3
  expect_nothing_obeyable
  run "$morrex" "xsim:$receiver" "$work/fw"$'\e]0;T\a'".bin"
  e2e_wait_for "$work/fw←]0;T•.bin: "
  e2e_expect_exit 2
  expect_nothing_obeyable
}

case $case_name in
  data_lines) data_lines ;;
  names) names ;;
  *) e2e_fail "unknown case $case_name" ;;
esac
echo PASS
