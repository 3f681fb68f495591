#!/usr/bin/env bash
# Starts the welkmora workspace in this terminal, from a fresh clone on
# Debian 12: installs what the build needs and builds a Release build in
# build-release/ with its progress shown (scripts/build-release.sh), starts
# the workspace with your shell in it as "Lead", the canvas page served and
# two demo agents, Alice and Bob, roped to Lead, and shows Lead here. The
# page's address is printed in a box (and opened in a browser when there is
# a display). A second start rebuilds nothing and takes seconds.
#
# The workspace outlives this terminal: Ctrl-\ or closing the terminal
# detaches, and a start while it runs attaches to it again. Leaving the
# shell (exit) stops the host and every program it started, as does
# `welkmora-host stop`. Inside the shell, Ctrl-C goes to the program
# running there, as in any terminal.
#
#   bash scripts/start.sh [--web [ADDR:]PORT] [--no-open] [--no-agents] [-- HOST-OPTIONS...]
#
#   --web [ADDR:]PORT  where the page is served (default 127.0.0.1:0, a free port)
#   --no-open          print the address only, open no browser
#   --no-agents        start without the demo agents
#   -- HOST-OPTIONS    passed on to welkmora-host (--state FILE, --settle TIME, ...)
#
# A workspace that runs already keeps the options it was started with.
# WELKMORA_START_BIN=DIR skips setup and build and runs the programs already
# built in DIR (welkmora, welkmora-host, welkmora-demo-agent); the tests
# point it at the build under test.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '16,26p' "$0" | sed 's/^# \{0,1\}//'; }

web=127.0.0.1:0
open_page=1
agents=1
host_options=()
while [ $# -gt 0 ]; do
  case $1 in
    --web)
      [ $# -ge 2 ] && [ "${2#-}" = "$2" ] || { echo "start: --web needs [ADDR:]PORT" >&2; exit 2; }
      web=$2
      shift 2
      ;;
    --no-open) open_page=0; shift ;;
    --no-agents) agents=0; shift ;;
    --) shift; host_options=("$@"); break ;;
    -h | --help) usage; exit 0 ;;
    *) echo "start: unexpected argument: $1" >&2; usage >&2; exit 2 ;;
  esac
done

if [ ! -t 0 ]; then
  echo "start: the workspace needs a terminal to show your shell in; for a look without one, run scripts/demo.sh" >&2
  exit 1
fi

if [ -n "${WELKMORA_START_BIN:-}" ]; then
  bin=$(cd "$WELKMORA_START_BIN" && pwd)
else
  bash scripts/build-release.sh
  bin=$PWD/build-release
fi
for program in welkmora welkmora-host welkmora-demo-agent; do
  [ -x "$bin/$program" ] || { echo "start: $bin/$program is missing" >&2; exit 1; }
done

# What the start leaves for the workspace: Lead's first program below, and
# what the host said. It stays while the workspace runs (recruits that run
# "your shell" run that program too), beside the default socket; a start
# that finds no workspace running there removes what earlier ones left.
places=${XDG_RUNTIME_DIR:-}
[ "${places#/}" != "$places" ] && places=$places/welkmora || places=/tmp/welkmora-$(id -u)
mkdir -p -m 700 "$places"
"$bin/welkmora-host" ls --socket "$places/host.sock" >/dev/null 2>&1 || rm -rf "$places"/start.*
work=$(mktemp -d "$places/start.XXXXXX")
user_shell=${SHELL:-}
[ -x "$user_shell" ] && [ "${user_shell#/}" != "$user_shell" ] || user_shell=$(getent passwd "$(id -u)" | cut -d: -f7)
[ -x "$user_shell" ] || user_shell=/bin/sh

opener=
if [ $open_page = 1 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  if [ -n "${BROWSER:-}" ]; then
    opener=${BROWSER%%:*}
  elif command -v xdg-open >/dev/null; then
    opener=xdg-open
  fi
fi

# The host runs this as Lead's shell. The first run sets the workspace up
# from inside Lead (its recruits are roped to it) and prints the box; every
# run then becomes the user's own shell, so recruits that start "your shell"
# get that too.
cat >"$work/lead" <<'EOF'
#!/usr/bin/env bash
export SHELL=$WELKMORA_START_SHELL
if mkdir "$WELKMORA_START_WORK/lead-started" 2>/dev/null; then
  url=
  for _ in $(seq 100); do
    url=$(sed -n 's/^welkmora-host: canvas: //p' "$WELKMORA_START_WORK/host.err")
    [ -n "$url" ] && break
    sleep 0.1
  done
  greeting="You are the shell \"$WELKMORA_TERMINAL_ID\" on the canvas."
  try="Try: welkmora recruit Alice --command welkmora-demo-agent"
  if welkmora list | grep -q '^Verbundene Agenten:'; then
    # A restart: the terminals of before are back, held.
    greeting="You are the shell \"$WELKMORA_TERMINAL_ID\"; the terminals of before are back, held."
    try="Try: welkmora-host ls, welkmora-host resume --all"
  elif [ "$WELKMORA_START_AGENTS" = 1 ]; then
    names=()
    for name in Alice Bob; do
      line=$(welkmora recruit "$name" --command welkmora-demo-agent 2>&1) || echo "start: $line" >&2
      names+=("${line##* }")
    done
    greeting="You are the shell \"$WELKMORA_TERMINAL_ID\"; ${names[0]} and ${names[1]} are roped to you."
    try="Try: welkmora list, welkmora ask ${names[0]} hello"
  fi
  lines=("The canvas page of your workspace:" "" "$url" "")
  [ -n "$WELKMORA_START_OPENER" ] && lines+=("(opening it with $WELKMORA_START_OPENER)" "")
  lines+=("$greeting" "$try" "Ctrl-\\ detaches; leave the shell (exit) to stop everything.")
  width=0  # the lines are ASCII, so lengths are widths
  for l in "${lines[@]}"; do [ ${#l} -gt "$width" ] && width=${#l}; done
  rule=$(printf '%*s' $((width + 4)) '' | sed 's/ /═/g')
  printf '\n╔%s╗\n' "$rule"
  for l in "${lines[@]}"; do printf '║  %s%*s  ║\n' "$l" $((width - ${#l})) ''; done
  printf '╚%s╝\n\n' "$rule"
fi
unset WELKMORA_START_WORK WELKMORA_START_SHELL WELKMORA_START_AGENTS WELKMORA_START_OPENER
exec "$SHELL"
EOF
chmod +x "$work/lead"

export PATH="$bin:$PATH"
export WELKMORA_START_WORK=$work WELKMORA_START_SHELL=$user_shell WELKMORA_START_AGENTS=$agents
export WELKMORA_START_OPENER=$opener

open_when_served() {
  local url=
  for _ in $(seq 100); do
    url=$(sed -n 's/^welkmora-host: canvas: //p' "$work/host.err" 2>/dev/null)
    [ -n "$url" ] && break
    sleep 0.1
  done
  [ -z "$url" ] || setsid "$opener" "$url" </dev/null >/dev/null 2>&1 &
}

: >"$work/host.err"
[ -n "$opener" ] && open_when_served &
# The host's messages go to the screen as ever, and to a file the shell
# above reads the page's address from. welkmora-host attaches to the
# workspace that runs, or starts one detached from this terminal.
status=0
SHELL="$work/lead" welkmora-host --web "$web" "${host_options[@]}" 2> >(tee -a "$work/host.err" >&2) || status=$?
wait $! 2>/dev/null || true  # tee, which has the last of what the host said
started=$(sed -n 's/^welkmora-host: started the workspace on \(.*\) (state file .*/\1/p' "$work/host.err")
attached=$(sed -n 's/^welkmora-host: attaching to the workspace on \(.*\)$/\1/p' "$work/host.err")
socket=${started:-$attached}
if [ -n "$socket" ] && [ -S "$socket" ]; then
  [ -n "$started" ] || rm -rf "$work"
  echo "start: the workspace goes on without this terminal: bash scripts/start.sh attaches again," \
    "welkmora-host stop ends it."
  exit "$status"
fi
rm -rf "$work"
if [ -z "$socket" ]; then
  echo "start: the workspace did not start (status $status)" >&2
else
  echo "start: the workspace has stopped: the host and every program it started have ended."
fi
exit "$status"
