#!/usr/bin/env bash
# Sets up, builds and runs a short scripted demo of welkmora: it starts
# welkmora-host on a temporary socket and state file, joins it as "Lead",
# recruits two demo agents and runs onboard, list, ask (single and --batch),
# check and note, showing each command before its output; then the person's
# seat: ls, send-keys into a shell recruit (Ctrl-C included) and the
# activity log. The host also serves the canvas page, whose address it
# prints first, so the demo can be watched there. It stops the host with
# SIGTERM at the end, and on any failure; with --keep it leaves it running
# at the end and tells how to join it and stop it. The programs come from
# the Release build of scripts/build-release.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
keep=0
case ${1:-} in
  --keep) keep=1 ;;
  "") ;;
  *) echo "usage: bash scripts/demo.sh [--keep]" >&2; exit 2 ;;
esac
bash scripts/build-release.sh

work=$(mktemp -d)
host_pid=
stop_host() {
  [ -n "$host_pid" ] || return 0
  kill -TERM "$host_pid" 2>/dev/null || true
  local status=0
  wait "$host_pid" || status=$?
  host_pid=
  return $status
}
cleanup() {
  local status=$?
  [ $keep = 1 ] && [ $status -eq 0 ] && return 0
  stop_host || true
  if [ $status -ne 0 ] && [ -s "$work/host.log" ]; then
    echo "demo: failed; the host's log:" >&2
    cat "$work/host.log" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Shows a command line, then runs it, its warnings in line with its output.
show() {
  printf '\n$ %s\n' "$1"
  eval "$1" 2>&1
}

# Waits, quietly, until terminal $1 shows the demo agent's prompt.
wait_ready() {
  for _ in $(seq 100); do
    welkmora check "$1" | grep -q 'demo>' && return 0
    sleep 0.1
  done
  echo "demo: $1 did not start" >&2
  return 1
}

export PATH="$PWD/build-release:$PATH"
export WELKMORA_DEMO_DELAY=1
socket="$work/host.sock"

echo "== welkmora-host serves a canvas on $socket"
welkmora-host serve --socket "$socket" --state "$work/state.json" --settle 1s --web 127.0.0.1:0 \
  </dev/null 2>"$work/host.log" &
host_pid=$!
url=
for _ in $(seq 100); do
  url=$(sed -n 's/^welkmora-host: canvas: //p' "$work/host.log")
  [ -S "$socket" ] && [ -n "$url" ] && break
  kill -0 "$host_pid" 2>/dev/null || exit 1
  sleep 0.1
done
echo "   and the canvas page on:"
echo
echo "     $url"
echo

echo "== This shell joins the canvas as \"Lead\""
printf '$ eval "$(welkmora-host join Lead --socket %s)"\n' "$socket"
eval "$(welkmora-host join Lead --socket "$socket" 2>/dev/null)"

show 'welkmora recruit Alice --command welkmora-demo-agent'
show 'welkmora recruit Bob --command welkmora-demo-agent'
wait_ready Alice
wait_ready Bob
show 'welkmora onboard'
show 'welkmora list'
show 'welkmora ask Alice "What should we build first?"'
show "welkmora ask --batch '{\"Alice\": \"Write the tests\", \"Bob\": \"Review the parser\"}'"
show 'welkmora ask Bob "Please confirm the release"'
show 'welkmora ask Bob y'
show 'welkmora check Alice'
show 'welkmora note create plan "Tests first, then the parser."'
show 'echo "Release on Friday." | welkmora note write plan'
show 'welkmora note list'
show 'welkmora note read plan'
show 'welkmora list'

echo
echo "== The person's seat: every terminal, and keys typed into any of them"
show 'welkmora recruit Shell --command "PS1=\"shell$ \" exec bash --norc --noprofile"'
show 'welkmora-host ls'
show 'welkmora-host send-keys Shell "sleep 100" Enter'
sleep 0.5
show 'welkmora-host ls --json | head -c 300; echo'
show 'welkmora-host send-keys Shell C-c'
sleep 0.3
show 'welkmora ask Shell "echo interrupted"'
show 'welkmora-host send-keys Lead x || echo "(status $?)"'
echo
echo "== The host's activity log (standard error of serve)"
grep -v '^welkmora-host:' "$work/host.log" || true

echo
if [ $keep = 1 ]; then
  echo "== The workspace keeps running (the host is process $host_pid); its page:"
  echo
  echo "     $url"
  echo
  echo "   Put a shell of yours on the canvas, with the client at hand:"
  echo "     export PATH=\"$PWD/build-release:\$PATH\""
  echo "     eval \"\$(welkmora-host join Me --socket $socket)\""
  echo "   Stop it: kill $host_pid"
  exit 0
fi
echo "== Stopping the host (SIGTERM): it hangs up Alice and Bob"
stop_host
echo "welkmora-host exited with status 0"
