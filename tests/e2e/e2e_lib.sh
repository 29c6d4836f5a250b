# Shared steps of the end-to-end stories: a tmux session of its own per story
# (own socket), keys, waiting for the screen, the program's end, its CPU time,
# the terminal it leaves, and the virtual receiver's wire log. Sourced by bash.
#
#   e2e_setup NAME          work folder $work, tmux server, clean-up on exit
#   e2e_start CMD...        runs CMD in a 100x40 pane (through e2e_pane.sh)
#   e2e_keys KEY...         tmux send-keys
#   e2e_wait_for TEXT...    until the screen shows every TEXT (fixed strings)
#   e2e_wait_exit [S]       until the program ended; sets $exit_code
#   e2e_fail WHY            prints the screen and ends the story with 1
#   e2e_quit RECEIVER       q at the menu, then a clean end (see below)

e2e_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# How long a wait for the screen or for the end may take, in seconds.
E2E_WAIT=${E2E_WAIT:-10}

e2e_cleanup() {
  local server
  for server in $e2e_servers; do
    tmux -L "$server" kill-server 2>/dev/null || true
    # tmux leaves the socket of a killed server behind.
    rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$server"
  done
  # A program that had not ended and survived the hang-up of its pane is
  # ours to end.
  if [ -s "$work/pid" ] && [ ! -s "$work/exit" ]; then
    kill -KILL "$(cat "$work/pid")" 2>/dev/null || true
  fi
  rm -rf "$work"
}

e2e_setup() {
  # No dot in the path: a data file name typed without extension gets ".txt".
  work=$(mktemp -d "/tmp/e2e_$1_XXXXXX")
  e2e_name=e2e_$1_$$
  e2e_servers=
  e2e_starts=0
  trap e2e_cleanup EXIT
  trap 'exit 2' HUP INT TERM
}

e2e_tmux() { tmux -L "$e2e_server" "$@"; }

e2e_start() {
  rm -f "$work/exit" "$work/pid" "$work/stty.before" "$work/stty.after"
  # A server of its own for each program: a server that is still shutting
  # down would refuse the next session.
  [ -n "$e2e_servers" ] && e2e_tmux kill-server 2>/dev/null || true
  e2e_starts=$((e2e_starts + 1))
  e2e_server=${e2e_name}_$e2e_starts
  e2e_servers="$e2e_servers $e2e_server"
  local command
  command=$(printf '%q ' bash "$e2e_lib_dir/e2e_pane.sh" "$work" "$@")
  e2e_tmux -f /dev/null new-session -d -s e2e -x 100 -y 40 "$command" ||
    e2e_fail "tmux does not start"
  local tries=0
  until [ -s "$work/pid" ]; do
    tries=$((tries + 1))
    [ $tries -gt 50 ] && e2e_fail "the program did not start"
    sleep 0.1
  done
  e2e_pid=$(cat "$work/pid")
}

e2e_keys() { e2e_tmux send-keys -t e2e "$@"; }

# The visible screen; e2e_history: everything printed so far.
e2e_screen() { e2e_tmux capture-pane -p -t e2e 2>/dev/null; }
e2e_history() { e2e_tmux capture-pane -p -J -S - -t e2e 2>/dev/null; }

e2e_fail() {
  echo "FAIL: $*"
  echo "---- screen"
  e2e_screen || true
  exit 1
}

e2e_wait_for() {
  local tries=0 shown text missing
  while :; do
    shown=$(e2e_screen)
    missing=
    for text in "$@"; do
      grep -qF -- "$text" <<<"$shown" || missing=$text
    done
    [ -z "$missing" ] && return 0
    tries=$((tries + 1))
    [ $tries -gt $((E2E_WAIT * 10)) ] && e2e_fail "never showed: $missing"
    sleep 0.1
  done
}

# Waits until the screen shows a line matching an extended regular
# expression: for progress that a carriage return overwrites, which a wait
# for one fixed text can miss between two looks.
e2e_wait_for_line() {
  local tries=0
  until e2e_screen | grep -qE -- "$1"; do
    tries=$((tries + 1))
    [ $tries -gt $((E2E_WAIT * 10)) ] && e2e_fail "never showed a line like: $1"
    sleep 0.1
  done
}

# How often the whole output so far shows a text.
e2e_count() { e2e_history | grep -cF -- "$1" || true; }

e2e_wait_exit() {
  local limit=${1:-$E2E_WAIT} tries=0
  until [ -s "$work/exit" ]; do
    tries=$((tries + 1))
    [ $tries -gt $((limit * 10)) ] && e2e_fail "the program did not end within $limit s"
    sleep 0.1
  done
  exit_code=$(cat "$work/exit")
}

e2e_expect_exit() {
  e2e_wait_exit "${2:-}"
  [ "$exit_code" = "$1" ] || e2e_fail "exit code $exit_code, not $1"
}

# The terminal after the program is as before it: echo and line editing back.
e2e_expect_terminal_restored() {
  grep -q ' echo ' "$work/stty.after" || e2e_fail "echo is off after the program"
  grep -q ' icanon ' "$work/stty.after" || e2e_fail "line editing is off after the program"
  cmp -s "$work/stty.before" "$work/stty.after" ||
    e2e_fail "terminal settings differ: $(diff "$work/stty.before" "$work/stty.after")"
}

# Clock ticks (1/100 s) of CPU time the process has used, user and system.
e2e_cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat") || e2e_fail "process $1 is gone"
  # Fields after the command name, which may hold blanks: utime is the 12th.
  set -- ${stat##*) }
  echo $((${12} + ${13}))
}

# CPU ticks of the program's threads other than the main one (on the
# virtual clock a pause costs no time, so only these show a spin there).
e2e_side_thread_ticks() {
  local task sum=0 stat
  for task in /proc/"$e2e_pid"/task/*; do
    [ "${task##*/}" = "$e2e_pid" ] && continue
    stat=$(cat "$task/stat" 2>/dev/null) || continue
    set -- ${stat##*) }
    sum=$((sum + ${12} + ${13}))
  done
  echo $sum
}

# CPU ticks the program uses over the given seconds of waiting; with "side",
# only its threads other than the main one.
e2e_cpu_over() {
  local before after
  if [ "${2:-}" = side ]; then
    before=$(e2e_side_thread_ticks)
    sleep "$1"
    after=$(e2e_side_thread_ticks)
  else
    before=$(e2e_cpu_ticks "$e2e_pid")
    sleep "$1"
    after=$(e2e_cpu_ticks "$e2e_pid")
  fi
  echo $((after - before))
}

# The wire log of receiver folder DIR: the bytes sent, as upper-case hex
# words on one line; and the lines of one event ("<us> EVENT value").
e2e_wire_tx() { awk '$2 == "TX" { printf "%s ", $3 }' "$1/wire.log"; }
# The CV commands (and the quit sequence): the bytes after the wake sequence's
# closing 55, four to a line.
e2e_wire_commands() {
  awk '$2 == "TX" { if (awake) { printf "%s%s", $3, (++n % 4 ? " " : "\n") } else if ($3 == "55") awake = 1 }' "$1/wire.log"
}
e2e_wire_events() { awk -v event="$2" '$2 == event' "$1/wire.log"; }

e2e_expect_no_protocol_errors() {
  ! grep -q ' ERR ' "$1/wire.log" || e2e_fail "protocol errors: $(grep ' ERR ' "$1/wire.log" | head -3)"
}

# The quit sequence is the last thing sent, and the receiver left service mode.
e2e_expect_quit_sequence() {
  case "$(e2e_wire_tx "$1")" in
    *"EE EE EE EE ") ;;
    *) e2e_fail "the last bytes sent are not EE EE EE EE: $(e2e_wire_tx "$1" | tail -c 30)" ;;
  esac
  [ "$(tail -n 1 "$1/wire.log" | cut -d' ' -f2-)" = "STATE running" ] ||
    e2e_fail "the receiver did not leave service mode: $(tail -n 1 "$1/wire.log")"
}

# q at the menu ends the program cleanly: exit code 0, the quit sequence last
# on the wire of receiver folder RECEIVER, no protocol errors, the terminal as
# before.
e2e_quit() {
  e2e_keys q
  e2e_expect_exit 0
  e2e_expect_quit_sequence "$1"
  e2e_expect_no_protocol_errors "$1"
  e2e_expect_terminal_restored
}

# The line of one CV in a read-out file or a receiver's cvs.txt ("7" or "7a").
e2e_cv_line() { grep -E "^CV +${2%a}${2//[0-9]/} *[=:]" "$1"; }
