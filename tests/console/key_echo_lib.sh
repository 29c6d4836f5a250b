# Shared steps of the key_echo checks in tmux: a tmux server of its own with a
# shell in an 80x25 pane, waiting for the screen or a file, the key codes and
# colours key_echo shows, and the terminal settings the shell has afterwards.
# Sourced by sh.
#
#   keys_setup NAME           work folder $work, tmux server, clean-up on exit;
#                             the shell's terminal settings in $work/before
#   tmux_ ARG...              tmux on that server
#   type_line TEXT            types TEXT and Enter into the shell
#   wait_for TEXT [TENTHS]    until the screen shows TEXT (a grep pattern)
#   wait_for_file FILE        until FILE has content
#   key_shows CODE KEY...     sends KEY (send-keys arguments), waits for "key CODE"
#   expect_yellow_on_blue     the screen's only colours
#   stty_into NAME            the shell's terminal settings now, into $work/NAME
#   expect_settings_kept NAME WHEN   the same, and they are those from before

tmux_() { tmux -L "$server" "$@"; }

keys_cleanup() {
  tmux_ kill-server 2>/dev/null
  rm -rf "$work"
}

fail() {
  echo "FAIL: $*"
  echo "--- screen:"
  tmux_ capture-pane -p -t "$session" 2>/dev/null
  exit 1
}

screen() { tmux_ capture-pane -p -t "$session"; }

# Waits up to $2 tenths of a second (default 50) for text on the screen.
wait_for() {
  tries=0
  while ! screen | grep -q -- "$1"; do
    tries=$((tries + 1))
    [ $tries -gt "${2:-50}" ] && fail "no \"$1\" on the screen"
    sleep 0.1
  done
}

# Waits up to 5 s for a file to have content.
wait_for_file() {
  tries=0
  while [ ! -s "$1" ]; do
    tries=$((tries + 1))
    [ $tries -gt 50 ] && fail "no $1"
    sleep 0.1
  done
}

type_line() { tmux_ send-keys -t "$session" "$1" Enter; }

keys_setup() {
  server=$1-$$
  session=keys
  work=$(mktemp -d)
  trap keys_cleanup EXIT
  tmux_ -f /dev/null new-session -d -s "$session" -x 80 -y 25 "env PS1='$ ' sh" ||
    fail "tmux does not start"
  type_line "stty -a > $work/before; clear"
  wait_for_file "$work/before"
}

key_shows() {
  code=$1
  shift
  tmux_ send-keys -t "$session" "$@"
  wait_for "key $code"
}

# Yellow (bright, 93) on blue (44), and no other colour.
expect_yellow_on_blue() {
  esc=$(printf '\033')
  colours=$(tmux_ capture-pane -e -p -t "$session" | grep -o "$esc\[[0-9;]*m" | tr -d "$esc" | sort -u | tr '\n' ' ')
  [ "$colours" = "[44m [93m " ] || fail "colours on the screen are $colours, not yellow on blue"
}

stty_into() {
  type_line "stty -a > $work/$1"
  wait_for_file "$work/$1"
}

expect_settings_kept() {
  stty_into "$1"
  cmp -s "$work/before" "$work/$1" || fail "terminal settings differ after $2"
}
