#!/bin/sh
# key_echo.exe under Wine in tmux: Wine's console on a terminal turns the
# terminal's key sequences into key events, and key_echo must show the codes
# our console layer makes of them, yellow on blue; after q the terminal's
# settings are as before.
# What Wine 8's terminal console cannot deliver is left out: tmux's Home and
# End (ESC[1~, ESC[4~) give no event, so Home is sent in xterm's form ESC[H;
# a lone ESC gives no event; Ctrl+C stays a signal that ends the program.
# Usage: key_echo_wine_tmux.sh path/to/key_echo.exe path/to/wine-run
set -u
. "$(dirname "$0")/key_echo_lib.sh"

program=$1
wine_run=$2
: "${WINEPREFIX:?WINEPREFIX must name the build folder's Wine prefix}"
keys_setup console-wine-keys

# Wine reads the terminal's bytes in the locale's character set: UTF-8 here.
type_line "LC_ALL=C.UTF-8 WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all '$wine_run' '$program'; echo ended > $work/ended"
wait_for "key_echo ready" 300

key_shows 0x400070 F1
key_shows 0x400071 F2
key_shows 0x400425 C-Left
key_shows 0x401070 S-F1
key_shows 0x400024 -H 1b 5b 48
key_shows 0x84 -l "ä"
key_shows 0x78 x

expect_yellow_on_blue

key_shows 0x71 q
wait_for_file "$work/ended"
expect_settings_kept after q

echo "PASS"
