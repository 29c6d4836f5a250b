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
  *) echo "unknown case $case_name"; exit 2 ;;
esac
