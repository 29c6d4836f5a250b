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

# No control a terminal would obey in FILE: C0 but TAB, LF and CR, and DEL.
no_raw_controls() {
  if LC_ALL=C grep -aq "$(printf '[\001-\010\013\014\016-\037\177]')" "$1"; then
    echo "a raw control in $1:"; cat -v "$1"; exit 1
  fi
}

# Runs tarvel with the keys KEYS and standard output into $out, through a
# pipe when HOW is pipe; sets code.
run_into() {  # run_into HOW KEYS ARGUMENTS...
  how=$1 keys=$2; shift 2
  if [ "$how" = file ]; then
    printf '%s' "$keys" | ORN_HOME=1 "$wine_run" "$tarvel" "$@" >"$out" 2>"$err"; code=$?
  else
    { printf '%s' "$keys" | ORN_HOME=1 "$wine_run" "$tarvel" "$@" 2>"$err"; echo $? >"$out.code"; } |
      cat >"$out"
    code=$(cat "$out.code"); rm -f "$out.code"
  fi
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
    expect 99 "Open_in COM77_missing: Error 2" "Grund: " "Vorhandene Schnittstellen zeigt: tarvel --ports" ;;
  tarvel_com_forms)
    # From COM10 up both forms open the device namespace name.
    for port in 77 com77 COM77; do
      printf 'x' | "$wine_run" "$tarvel" $port >"$out" 2>"$err"; code=$?
      expect 99 'Open_in \\.\COM77: Error 2'
    done ;;
  morrex_no_port)
    "$wine_run" "$morrex" 77 nothing.bin </dev/null >"$out" 2>"$err"; code=$?
    expect 1 "Open COM77: Error 2" "Grund: " "Vorhandene Schnittstellen zeigt: morrex --ports" ;;
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
  tarvel_read_out_replace)
    # The new read-out takes the old file's place only when complete: CR LF
    # lines, nothing left beside it.
    mkdir "$out.d" && printf 'alt\r\n' >"$out.d/cvs.txt"
    ORN_HOME=1 "$wine_run" "$tarvel" --force --read-out "$out.d/cvs.txt" "sim:$out.d/r" \
      </dev/null >"$out" 2>"$err"; code=$?
    [ "$(grep -c "$(printf '^CV .*)\r$')" "$out.d/cvs.txt")" = 398 ] || { echo "not 398 CR LF lines"; code=1; }
    [ "$(ls -A "$out.d")" = "$(printf 'cvs.txt\nr')" ] || { echo "left: $(ls -A "$out.d")"; code=1; }
    rm -rf "$out.d"
    expect 0 "398 von 398 CVs gelesen, 0 Lesefehler (Exit-Code 0)" ;;
  tarvel_read_out_cut)
    # A pulled adapter after a few CVs: the old file stays, the lines read are
    # kept beside it, and nothing half-written is left.
    mkdir "$out.d" && printf 'alt\r\n' >"$out.d/cvs.txt"
    # (14 bytes of the wake, 160 of the line's check, 13 reads of 36 and CV 1a's
    # complement, then 18 bytes into the 14th read.)
    ORN_HOME=1 "$wine_run" "$tarvel" --force --read-out "$out.d/cvs.txt" "sim:$out.d/r?unplug=664" \
      </dev/null >"$out" 2>"$err"; code=$?
    [ "$(cat "$out.d/cvs.txt")" = "$(printf 'alt\r')" ] || { echo "the old file changed"; code=1; }
    read_cvs=$(sed -n 's/.*: \([0-9]*\) von 398 CVs gelesen.*/\1/p' "$out")
    [ "$(grep -c "$(printf '^CV .*)\r$')" "$out.d/cvs.txt.teil")" = "${read_cvs:-?}" ] ||
      { echo "not the $read_cvs lines read kept"; code=1; }
    [ "$(ls -A "$out.d")" = "$(printf 'cvs.txt\ncvs.txt.teil\nr')" ] || { echo "left: $(ls -A "$out.d")"; code=1; }
    rm -rf "$out.d"
    [ $code = 4 ] && code=0
    expect 0 "Schnittstelle ausgefallen (Exit-Code 4)" "ist unver" ;;
  tarvel_read_out_kept_beside)
    # Cut short again: an earlier .teil stays, the lines go under the next
    # free name, which the message states.
    mkdir "$out.d" && printf 'alt\r\n' >"$out.d/cvs.txt" && printf 'keep\r\n' >"$out.d/cvs.txt.teil"
    ORN_HOME=1 "$wine_run" "$tarvel" --force --read-out "$out.d/cvs.txt" "sim:$out.d/r?unplug=500" \
      </dev/null >"$out" 2>"$err"; code=$?
    [ "$(cat "$out.d/cvs.txt.teil")" = "$(printf 'keep\r')" ] || { echo "the earlier .teil changed"; code=1; }
    read_cvs=$(sed -n 's/.*: \([0-9]*\) von 398 CVs gelesen.*/\1/p' "$out")
    [ "$(grep -c "$(printf '^CV .*)\r$')" "$out.d/cvs.txt.2.teil")" = "${read_cvs:-?}" ] ||
      { echo "not the $read_cvs lines read kept"; code=1; }
    rm -rf "$out.d"
    [ $code = 4 ] && code=0
    expect 0 "Die gelesenen Zeilen stehen in $out.d/cvs.txt.2.teil" ;;
  tarvel_read_out_appears)
    # A file that appears at FILE while the read-out runs (in real time: it
    # appears during the reset) stays; the read-out is kept beside it, exit 3.
    mkdir "$out.d"
    ORN_HOME=1 "$wine_run" "$tarvel" --read-out "$out.d/cvs.txt" "sim:$out.d/r" \
      </dev/null >"$out" 2>"$err" &
    job=$!
    tries=0
    until ls "$out.d"/neu*.tmp >/dev/null 2>&1 || [ $tries -ge 600 ]; do
      sleep 0.1; tries=$((tries + 1))
    done
    printf 'USER DATA\r\n' >"$out.d/cvs.txt"
    wait $job; code=$?
    [ "$(cat "$out.d/cvs.txt")" = "$(printf 'USER DATA\r')" ] || { echo "the file that appeared changed"; code=1; }
    [ "$(grep -c "$(printf '^CV .*)\r$')" "$out.d/cvs.txt.teil")" = 398 ] || { echo "not 398 kept lines"; code=1; }
    rm -rf "$out.d"
    expect 3 "Die gelesenen Zeilen stehen in $out.d/cvs.txt.teil." "Datei fehlerhaft (Exit-Code 3)" ;;
  tarvel_option_forms)
    # Options after the port, short forms; none of them opens the port.
    for form in "sim:$out.d --help" "-h" "-?" "/?"; do
      # shellcheck disable=SC2086
      "$wine_run" "$tarvel" $form </dev/null >"$out" 2>"$err"; code=$?
      expect 0 "Usage: tarvel comx [Datenfile]"
    done
    "$wine_run" "$tarvel" "sim:$out.d" -V </dev/null >"$out" 2>"$err"; code=$?
    expect 0 "tarvel "
    "$wine_run" "$tarvel" "sim:$out.d" --bogus </dev/null >"$out" 2>"$err"; code=$?
    expect 9 "unbekannte Option: --bogus"
    [ ! -e "$out.d" ] || { echo "a port was opened"; exit 1; } ;;
  morrex_bad_option)
    # An option morrex does not have flashes nothing.
    "$wine_run" "$morrex" "xsim:$out.d" nothing.bin --verify </dev/null >"$out" 2>"$err"; code=$?
    expect 9 "unbekannte Option: --verify" "Usage: morrex COMx Programmfile"
    [ ! -e "$out.d" ] || { echo "a port was opened"; exit 1; } ;;
  tarvel_check)
    # A check lists the job and its length and never opens a port, not even
    # one that is named.
    printf 'CV 7a = 12\r\nCV 3 = b0000 1100\r\nhello\r\n' >"$out.txt"
    "$wine_run" "$tarvel" --check --program "$out.txt" "sim:$out.d" </dev/null >"$out" 2>"$err"; code=$?
    [ ! -e "$out.d" ] || { echo "a port was opened"; exit 1; }
    rm -f "$out.txt"
    # Into a file the umlauts go as code page 850 bytes (0x81 for ü).
    expect 2 "CV   7a =  12 (b0000 1100)" \
      "$(printf '2 CVs zu schreiben, 1 Zeilen ung\201ltig, Dauer 13.2 s (Exit-Code 2)')" ;;
  tarvel_backup_restore)
    # Back up, program, restore: the receiver holds its old values again and
    # a compare against the backup finds every CV equal.
    mkdir "$out.d" && printf 'CV 7a = 12\r\nCV 3 = 99\r\n' >"$out.d/p.txt"
    ORN_HOME=1 "$wine_run" "$tarvel" --program "$out.d/p.txt" --backup "$out.d/old.txt" "sim:$out.d/r" \
      </dev/null >"$out" 2>"$err"; code=$?
    expect 0 "$(printf '2 CVs geschrieben, 0 Zeilen ung\201ltig, 2 CVs gesichert in')"
    cp "$out.d/r/cvs.txt" "$out.d/programmed.txt"
    ORN_HOME=1 "$wine_run" "$tarvel" --program "$out.d/old.txt" "sim:$out.d/r" </dev/null >"$out" 2>"$err"; code=$?
    expect 0 "2 CVs geschrieben"
    ORN_HOME=1 "$wine_run" "$tarvel" --compare "$out.d/old.txt" "sim:$out.d/r" </dev/null >"$out" 2>"$err"; code=$?
    expect 0 "2 CVs verglichen, 2 gleich, 0 verschieden, 0 Lesefehler"
    ORN_HOME=1 "$wine_run" "$tarvel" --compare "$out.d/p.txt" "sim:$out.d/r" </dev/null >"$out" 2>"$err"; code=$?
    grep -q "^CV   3  =  99" "$out.d/programmed.txt" || { echo "CV 3 was not programmed"; code=9; }
    rm -rf "$out.d"
    expect 1 "$(printf 'CV   3 : Datei  99 (b0110 0011), Empf\204nger')" "0 gleich, 2 verschieden" ;;
  tarvel_one_reading)
    # The job reads its file before it opens the port: a file replaced once
    # the port is open (the receiver's wire.log is made) changes nothing.
    mkdir "$out.d" && printf 'CV 7a = 12\r\nCV 3 = 99\r\n' >"$out.d/p.txt"
    ORN_HOME=1 "$wine_run" "$tarvel" --program "$out.d/p.txt" --backup "$out.d/old.txt" "sim:$out.d/r" \
      </dev/null >"$out" 2>"$err" &
    job=$!
    waited=0
    while [ ! -e "$out.d/r/wire.log" ] && [ $waited -lt 600 ]; do sleep 0.1; waited=$((waited + 1)); done
    printf 'CV 20 = 1\r\nCV 21 = 1\r\nCV 3 = 5\r\n' >"$out.d/new.txt"
    mv "$out.d/new.txt" "$out.d/p.txt"
    wait $job; code=$?
    grep -q "^CV   3  =  99" "$out.d/r/cvs.txt" || { echo "CV 3 is not the first file's"; code=9; }
    grep -q "^CV  20  =  19" "$out.d/r/cvs.txt" || { echo "CV 20 was written"; code=9; }
    [ "$(grep -c . "$out.d/old.txt")" = 2 ] || { echo "the backup is not the first file's"; code=9; }
    rm -rf "$out.d"
    expect 0 "$(printf '2 CVs geschrieben, 0 Zeilen ung\201ltig, 2 CVs gesichert in')" ;;
  morrex_check)
    # The program file is checked as a run would check it, no port opened.
    { printf '8\132u\001'; head -c 64 /dev/zero; printf '3'; } >"$out.bin"
    "$wine_run" "$morrex" --check "$out.bin" </dev/null >"$out" 2>"$err"; code=$?
    expect 0 "1 Seiten" "Programmdatei in Ordnung (Exit-Code 0)"
    printf 'X' >"$out.bin"
    "$wine_run" "$morrex" --check "$out.bin" </dev/null >"$out" 2>"$err"; code=$?
    rm -f "$out.bin"
    expect 3 "$(printf 'ung\201ltige CPU-Kennung!')" "Programmdatei fehlerhaft (Exit-Code 3)" ;;
  tarvel_adapter_lines)
    # Jobs on the virtual receiver's USB adapter lines, in real time: where the
    # line serves, the writes are confirmed and the compare finds them; where
    # it does not, the job ends at once with 1 and writes nothing.
    mkdir "$out.d" && printf 'CV 7a = 12\r\nCV 3 = 99\r\n' >"$out.d/p.txt"
    for line in "tick=2000" "early=1000,status=1000,jitter=300"; do
      ORN_HOME=1 "$wine_run" "$tarvel" --verify --program "$out.d/p.txt" "sim:$out.d/r?$line" \
        </dev/null >"$out" 2>"$err"; code=$?
      expect 0 "$(printf '2 CVs geschrieben, 2 best\204tigt, 0 nicht best\204tigt')"
      ORN_HOME=1 "$wine_run" "$tarvel" --compare "$out.d/p.txt" "sim:$out.d/r?$line" \
        </dev/null >"$out" 2>"$err"; code=$?
      expect 0 "2 CVs verglichen, 2 gleich, 0 verschieden, 0 Lesefehler"
      rm -rf "$out.d/r"
    done
    for line in stuck absent; do
      ORN_HOME=1 "$wine_run" "$tarvel" --program "$out.d/p.txt" "sim:$out.d/r?$line" \
        </dev/null >"$out" 2>"$err"; code=$?
      grep -q ' AE$' "$out.d/r/wire.log" && { echo "written on a $line line"; code=9; }
      rm -rf "$out.d/r"
      expect 1 "Leitung unbrauchbar (Exit-Code 1)"
    done
    rm -rf "$out.d" ;;
  morrex_adapter_pauses)
    # Writes that complete when the adapter has taken the byte: every pause
    # still reaches the receiver whole, counted from the bytes' line time
    # (260 us a byte): 20 ms after the count-up, 30 ms after a page's lead
    # byte and after its body.
    { printf '8\132u\001'; head -c 64 /dev/zero; printf '3'; } >"$out.bin"
    ORN_HOME=1 "$wine_run" "$morrex" "xsim:$out.d?early=0" "$out.bin" </dev/null >"$out" 2>"$err"
    code=$?
    # The gaps before the page's lead byte (after the count-up), before its
    # body and before the end record.
    gaps=$(awk '$2 == "TX" { if (n++) print $1 - last; last = $1 }' "$out.d/wire.log" |
      awk '$1 > 520' | tail -n 3 | tr '\n' ' ')
    set -- $gaps
    [ "$#" = 3 ] && [ "$1" -ge 20260 ] && [ "$2" -ge 30260 ] && [ "$3" -ge 30260 ] ||
      { echo "pauses at the receiver: $gaps"; code=9; }
    rm -rf "$out.bin" "$out.d"
    expect 0 "fertig" ;;
  tarvel_outside_text_redirected)
    # Refused lines with ESC, BEL and an OSC reach a file and a pipe as
    # glyphs on every path; a job names the line's number and skips the blank
    # line, the menu's p keeps its words and refuses it.
    mkdir "$out.d"
    printf 'CV 3 = 2\r\nCV 6 = 300 \033[2J\033]0;Titel\007\r\n\r\nCV 7 = 300\007\r\n' >"$out.d/p.txt"
    for how in file pipe; do
      for job in --program --compare "--check --program" "--check --compare"; do
        # shellcheck disable=SC2086
        run_into $how "" $job "$out.d/p.txt" "sim:$out.d/r"
        no_raw_controls "$out"
        grep -aq "kein '='" "$out" && { echo "$job refused the blank line"; cat "$out"; exit 1; }
        expect 2 "Zeile 2: CV 6 = 300 " "Zeile 4: CV 7 = 300" ", 2 Zeilen ung"
      done
      run_into $how pq "sim:$out.d/r" "$out.d/p.txt"
      no_raw_controls "$out"
      grep -aq "Zeile " "$out" && { echo "the menu numbered a line"; cat "$out"; exit 1; }
      expect 0 "CV 6 = 300 " "ltige zeile: kein '='" "CV 7 = 300"
    done
    # morrex's unknown option, into a file.
    "$wine_run" "$morrex" "xsim:$out.d/m" nothing.bin "--x$(printf '\033]0;T\007')" </dev/null \
      >"$out" 2>"$err"; code=$?
    no_raw_controls "$err"
    rm -rf "$out.d"
    expect 9 "unbekannte Option: --x" ;;
  tarvel_quit_failed)
    # The port pulled on the third byte of the quit sequence: said, and exit
    # 4, for a job and for the menu's q.
    mkdir "$out.d" && printf 'CV 3 = 2\r\n' >"$out.d/p.txt"
    for keys in "" q; do
      if [ -z "$keys" ]; then set -- --program "$out.d/p.txt"; else set --; fi
      run_into file "$keys" "$@" "sim:$out.d/r"
      all=$(grep -c ' TX ' "$out.d/r/wire.log")
      rm -rf "$out.d/r"
      expect 0
      run_into file "$keys" "$@" "sim:$out.d/r?unplug=$((all - 2))"
      [ "$(grep -c ' TX ' "$out.d/r/wire.log")" = $((all - 2)) ] || { echo "bytes after the pull"; code=9; }
      rm -rf "$out.d/r"
      expect 4 "$(printf 'Schreibfehler: 2 Bytes nicht gesendet, Empf\204nger nicht freigegeben')"
    done
    rm -rf "$out.d" ;;
  tarvel_json)
    # --json: standard output is the document alone (Python's json module
    # refuses anything after it), its CVs as the receiver holds them, the
    # umlaut of the file's name (an ANSI byte in the program) as its character;
    # the summary goes to standard error.
    mkdir "$out.d" && printf 'CV 7a = 12\r\nCV 3 = 99\r\nhallo\r\n' >"$out.d/Grüße.txt"
    ORN_HOME=1 "$wine_run" "$tarvel" --json --verify --program "$out.d/Grüße.txt" "sim:$out.d/r" \
      </dev/null >"$out" 2>"$err"; code=$?
    python3 - "$out" "$out.d" <<'PY' || { echo "the document:"; cat "$out"; code=1; }
import json, re, sys
doc = json.loads(open(sys.argv[1], "rb").read().decode("ascii"))
held = {}
for line in open(sys.argv[2] + "/r/cvs.txt"):
    m = re.match(r"CV\s+(\d+)(a?)\s*=\s*(\d+)", line)
    held[m.group(1) + m.group(2)] = int(m.group(3))
assert doc["job"]["file"] == sys.argv[2] + "/Gr\u00fc\u00dfe.txt", doc["job"]
assert doc["exit_code"] == 2 and doc["line_checks"][0]["verdict"] == "serves", doc
written = [(c["name"], c["written_value"], c["outcome"]) for c in doc["cvs"]]
assert written == [("7a", 12, "confirmed"), ("3", 99, "confirmed")], written
assert all(held[name] == value for name, value, _ in written), held
assert doc["counts"]["lines_refused"] == 1 and doc["counts"]["writes_confirmed"] == 2
PY
    rm -rf "$out.d"
    expect 2 "(Exit-Code 2)" ;;
  tarvel_read_list)
    # --read: with -q standard output is the CVs' lines alone, each once, in
    # the list's order; a wrong list names its wrong entry.
    ORN_HOME=1 "$wine_run" "$tarvel" -q --read 3,1a,256a,3 "sim:$out.d/r" </dev/null >"$out" 2>"$err"; code=$?
    want=$(printf 'CV   3  =   2 (b0000 0010)\r\nCV   1a = 255 (b1111 1111)\r\nCV 256a =   0 (b0000 0000)\r')
    [ "$(cat "$out")" = "$want" ] || { echo "not just the three lines:"; cat -v "$out"; code=1; }
    [ -s "$err" ] && { echo "standard error not empty"; cat "$err"; code=1; }
    rm -rf "$out.d"
    expect 0
    "$wine_run" "$tarvel" --read 1,0 "sim:$out.d/r" </dev/null >"$out" 2>"$err"; code=$?
    [ -e "$out.d" ] && { echo "the receiver was opened"; code=1; }
    expect 9 'tarvel: --read: "0": CV muss zwischen 1 und 256 liegen' ;;
  tarvel_write_read_back)
    # --write with --verify into the receiver, read back by --read and in its
    # state; a CV given twice is refused before the port.
    ORN_HOME=1 "$wine_run" "$tarvel" --verify --write 7=12,200a=0 "sim:$out.d/r" </dev/null \
      >"$out" 2>"$err"; code=$?
    expect 0 "$(printf 'tarvel --write 7=12,200a=0: 2 CVs geschrieben, 2 best\204tigt, 0 nicht best\204tigt (Exit-Code 0)')"
    for line in "CV   7  =  12 (b0000 1100)" "CV 200a =   0 (b0000 0000)"; do
      grep -qF "$line" "$out.d/r/cvs.txt" || { echo "receiver lacks: $line"; code=1; }
    done
    ORN_HOME=1 "$wine_run" "$tarvel" -q --read 7,200a "sim:$out.d/r" </dev/null >"$out" 2>"$err"; code=$?
    want=$(printf 'CV   7  =  12 (b0000 1100)\r\nCV 200a =   0 (b0000 0000)\r')
    [ "$(cat "$out")" = "$want" ] || { echo "read back:"; cat -v "$out"; code=1; }
    expect 0
    "$wine_run" "$tarvel" --write 7=1,7=2 "sim:$out.d/r2" </dev/null >"$out" 2>"$err"; code=$?
    rm -rf "$out.d"
    expect 9 'tarvel: --write: "7=2": CV zweimal genannt' ;;
  tarvel_read_out_cvs)
    # --cvs 1-256,1a-256a: all 512 CVs, CR LF lines, the receiver's whole state.
    mkdir "$out.d"
    ORN_HOME=1 "$wine_run" "$tarvel" --read-out "$out.d/all.txt" --cvs 1-256,1a-256a \
      "sim:$out.d/r?instant" </dev/null >"$out" 2>"$err"; code=$?
    [ "$(grep -c "$(printf '^CV .*)\r$')" "$out.d/all.txt")" = 512 ] || { echo "not 512 CR LF lines"; code=1; }
    [ "$(tr -d '\r' <"$out.d/all.txt")" = "$(tr -d '\r' <"$out.d/r/cvs.txt")" ] ||
      { echo "not the receiver's state"; code=1; }
    rm -rf "$out.d"
    expect 0 "512 von 512 CVs gelesen, 0 Lesefehler (Exit-Code 0)" ;;
  *) echo "unknown case $case_name"; exit 2 ;;
esac
