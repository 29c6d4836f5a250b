#!/usr/bin/env bash
# Takes the README's pictures of tarvel on the virtual receiver, at its menu
# and after a read-out: in a Linux terminal (xterm) and in the Windows console
# window under Wine (wineconsole), each on a virtual X server (Xvfb). Not run
# by the tests. Needs both builds (build/linux, build/windows, with the Wine
# prefix the Windows tests make) and the Debian packages xvfb, x11-apps (xwd),
# imagemagick, xterm, xdotool and xfonts-base.
# Usage: docs/take-screenshots.sh      (writes docs/tarvel-*.png)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
tarvel=$top/build/linux/cvtool/tarvel
tarvel_exe=$top/build/windows/cvtool/tarvel.exe
export WINEPREFIX=$top/build/windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for file in "$tarvel" "$tarvel_exe" "$WINEPREFIX/system.reg"; do
  [ -e "$file" ] || { echo "missing $file: build (and test) both builds first"; exit 1; }
done
work=$(mktemp -d /tmp/screenshots-XXXXXX)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A display of its own, whichever number is free.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

# until SECONDS COMMAND...: waits for COMMAND to succeed.
until_true() {
  local limit=$1 tries=0
  shift
  until "$@"; do
    tries=$((tries + 1))
    [ $tries -gt $((limit * 5)) ] && { echo "gave up waiting for: $*"; exit 1; }
    sleep 0.2
  done
}
window_of() { xdotool search --name "$1" 2>/dev/null | tail -n 1; }
has_window() { [ -n "$(window_of "$1")" ]; }
in_service_mode() { grep -q 'STATE service' "$1/wire.log" 2>/dev/null; }
read_out_done() { [ -f "$1" ] && [ "$(wc -l <"$1")" -ge 398 ]; }

# shoot WINDOW NAME: the window as docs/NAME.png, in few colours.
shoot() {
  xwd -id "$1" -out "$work/shot.xwd"
  convert "xwd:$work/shot.xwd" -colors 16 "PNG8:$top/docs/$2.png"
  echo "docs/$2.png"
}

# pictures TITLE SYSTEM RECEIVER DATAFILE: the menu (after the wake-up), then
# a read-out with a, then q.
pictures() {
  local title=$1 system=$2 receiver=$3 data=$4 window
  until_true 60 has_window "$title"
  window=$(window_of "$title")
  until_true 60 in_service_mode "$receiver"
  sleep 2  # the menu follows the wake-up
  shoot "$window" "tarvel-$system-menu"
  xdotool windowfocus --sync "$window" key a
  until_true 180 read_out_done "$data"
  sleep 2
  shoot "$window" "tarvel-$system-readout"
  xdotool windowfocus --sync "$window" key q
}

# ORN_HOME: a 2 s reset instead of 10 s.
ORN_HOME=1 xterm -T tarvel-linux -geometry 80x24 -fa 'DejaVu Sans Mono' -fs 11 \
  -e "$tarvel" "sim:$work/linux" "$work/linux.txt" &
pictures tarvel-linux linux "$work/linux" "$work/linux.txt"
wait $!

ORN_HOME=1 wine wineconsole "$tarvel_exe" "sim:$work/windows" "$work/windows.txt" &
pictures 'tarvel\.exe' windows "$work/windows" "$work/windows.txt"
wait $!
# Wine's own processes leave before the display goes.
timeout 30 wineserver -w || true
