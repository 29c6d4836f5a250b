#!/bin/sh
# One smoke case of a Windows program under Wine: its exit code and the texts
# it prints. Usage: program_smoke.sh CASE tarvel.exe morrex.exe wine-run
set -u
case_name=$1 tarvel=$2 morrex=$3 wine_run=$4
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

expect() {  # expect CODE TEXT... : exit code and texts that must appear
  want=$1; shift
  if [ "$code" != "$want" ]; then
    echo "exit code $code, expected $want"; cat "$out" "$err"; exit 1
  fi
  for text in "$@"; do
    if ! grep -aqF -- "$text" "$out" "$err"; then
      echo "missing text: $text"; cat "$out" "$err"; exit 1
    fi
  done
  echo "ok: $case_name"
}

case $case_name in
  tarvel_usage)
    "$wine_run" "$tarvel" </dev/null >"$out" 2>"$err"; code=$?
    expect 9 "CVs Lesen und schreiben Version 1.0, 1.2.2007" "Usage: tarvel comx [Datenfile]" ;;
  morrex_usage)
    "$wine_run" "$morrex" </dev/null >"$out" 2>"$err"; code=$?
    expect 9 "Update Amtel-Flash Version 1.1, 11.1.2005" "Usage: morrex COMx Programmfile" ;;
  tarvel_no_port)
    # The key that ends the run after the message comes from standard input.
    printf 'x' | "$wine_run" "$tarvel" COM77_missing >"$out" 2>"$err"; code=$?
    expect 99 "Open_in COM77_missing: Error 2" "Vorhandene Schnittstellen zeigt: tarvel --ports" ;;
  tarvel_com_forms)
    # From COM10 up both forms open the device namespace name.
    for port in 77 com77 COM77; do
      printf 'x' | "$wine_run" "$tarvel" $port >"$out" 2>"$err"; code=$?
      expect 99 'Open_in \\.\COM77: Error 2'
    done ;;
  morrex_no_port)
    "$wine_run" "$morrex" 77 nothing.bin </dev/null >"$out" 2>"$err"; code=$?
    expect 1 "Open COM77: Error 2" "Vorhandene Schnittstellen zeigt: morrex --ports" ;;
  tarvel_help_redirected)
    # Into a file the text goes as its code page 850 bytes, as ever (0x84, 0x81).
    "$wine_run" "$tarvel" --help </dev/null >"$out" 2>"$err"; code=$?
    expect 0 "$(printf 'eines Empf\204ngers \201ber RS-232.')" ;;
  tarvel_sim_program)
    # p programs a data file into the virtual receiver, q quits; the receiver
    # keeps the values in its cvs.txt, and its wire log has no protocol error.
    printf 'CV 7a = 12\r\nCV 3 = b0000 1100\r\n' >"$out.txt"
    printf 'pq' | ORN_HOME=1 "$wine_run" "$tarvel" "sim:$out.d" "$out.txt" >"$out" 2>"$err"
    code=$?
    for line in "CV   3  =  12 (b0000 1100)" "CV   7a =  12 (b0000 1100)"; do
      grep -qxF "$line" "$out.d/cvs.txt" || { echo "receiver lacks: $line"; code=1; }
    done
    grep -q ' ERR ' "$out.d/wire.log" && { echo "protocol errors"; code=1; }
    rm -rf "$out.txt" "$out.d"
    expect 0 "Kommandos:" ;;
  tarvel_sim_bad_option)
    # The virtual receiver refuses what it refuses on Linux, with the same code.
    printf 'x' | "$wine_run" "$tarvel" "sim:$out.d?fast" >"$out" 2>"$err"; code=$?
    expect 99 "Open_in sim:$out.d?fast: Error 87" ;;
  morrex_sim_not_a_folder)
    "$wine_run" "$morrex" "xsim:$err" nothing.bin </dev/null >"$out" 2>"$err.msg"; code=$?
    mv "$err.msg" "$err"
    expect 1 "Open sim:$err: Error 3" ;;
  *) echo "unknown case $case_name"; exit 2 ;;
esac
