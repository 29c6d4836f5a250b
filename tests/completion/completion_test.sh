#!/bin/bash
# The bash completion of both programs, as bash runs it at a Tab: each row the
# words typed so far and what must (or must not) be offered. The ports offered
# are the names the program's own --ports lists.
# Usage: completion_test.sh COMPLETION_DIR TARVEL MORREX
set -u
dir=$1 tarvel=$2 morrex=$3
work=$(mktemp -d /tmp/completion_XXXXXX)
trap 'rm -rf "$work"' EXIT
# shellcheck source=/dev/null
source "$dir/tarvel"
# shellcheck source=/dev/null
source "$dir/morrex"
failures=0
touch "$work/cvs.txt" "$work/fw.bin"
first_port=$("$tarvel" --ports | head -n 1)
first_port=${first_port%% *}

# complete FUNCTION WORD...: what a Tab after the words offers, one a line.
complete_words() {
  local function=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$function"
  printf '%s\n' "${COMPREPLY[@]}"
}

# Each row of standard input: function | words (the last is being typed) |
# offered (space separated) | not offered.
check_rows() {
while IFS='|' read -r function words offered refused; do
  words=${words//@/$work}
  read -ra typed <<<"$words"
  [[ $words == *" " ]] && typed+=("")
  got=$(complete_words "$function" "${typed[@]}")
  for want in $offered; do
    grep -qxF -- "${want//@/$work}" <<<"$got" || { echo "FAIL [$words]: no $want in: $got"; failures=$((failures + 1)); }
  done
  for never in $refused; do
    ! grep -qxF -- "${never//@/$work}" <<<"$got" || { echo "FAIL [$words]: offers $never"; failures=$((failures + 1)); }
  done
done
}

check_rows <<EOF2
_tarvel|$tarvel --ver|--verify --version|--help
_tarvel|$tarvel --read-out @/cv|@/cvs.txt|--verify
_tarvel|$tarvel --compare @/cvs.txt --j|--json|--verify
_tarvel|$tarvel |sim: $first_port|--verify
_tarvel|$tarvel --verify --program @/cvs.txt s|sim:|@/cvs.txt
_tarvel|$tarvel --r|--read --read-out|--write
_tarvel|$tarvel --read-out @/cvs.txt --c|--cvs --compare --check|
_tarvel|$tarvel --read |1-256,1a-256a|@/cvs.txt sim:
_tarvel|$tarvel --write ||@/cvs.txt sim: 1-256,1a-256a --verify
_tarvel|$tarvel --read 1-3 s|sim:|@/cvs.txt
_tarvel|$tarvel --write 7=1 --verify s|sim:|@/cvs.txt
_tarvel|$tarvel sim:x @/c|@/cvs.txt|sim:
_morrex|$morrex --|--ports --help --version --check|
_morrex|$morrex x|x$first_port xsim:|sim:
_morrex|$morrex r/|r$first_port|xsim:
_morrex|$morrex x3 @/f|@/fw.bin|
_morrex|$morrex -3 @/f|@/fw.bin|
EOF2

# A USB adapter with a serial number (a fake sysfs tree, as --ports reads it)
# is offered by its device and as usb:SERIAL.
root=$work/root usb=$work/root/sys/devices/usb1/1-2
mkdir -p "$usb/1-2:1.0/ttyUSB0/tty/ttyUSB0" "$root/sys/class/tty"
echo 0403 >"$usb/idVendor"
echo 6001 >"$usb/idProduct"
echo A9XK3Q1Z >"$usb/serial"
ln -s "$usb/1-2:1.0/ttyUSB0" "$usb/1-2:1.0/ttyUSB0/tty/ttyUSB0/device"
ln -s "$usb/1-2:1.0/ttyUSB0/tty/ttyUSB0" "$root/sys/class/tty/ttyUSB0"
ORN_PORTS_ROOT=$root check_rows <<EOF2
_tarvel|$tarvel u|usb:A9XK3Q1Z|sim:
_tarvel|$tarvel |/dev/ttyUSB0 usb:A9XK3Q1Z sim:|
_morrex|$morrex xu|xusb:A9XK3Q1Z|usb:A9XK3Q1Z
EOF2

if [ $failures -gt 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo PASS
