#!/usr/bin/env bash
# Times `welkmora ask` against welkmora-host: a single ask and a batch to two
# demo agents that think for one second each, RUNS times each (default 5;
# -n RUNS changes that), with the host's settle time at 300ms (-s TIME). A
# batch that serves its agents at the same time takes about as long as a
# single ask: 0.2 s to the Enter, the agent's second, then the settle time.
# It is not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5
settle=300ms
while getopts n:s: flag; do
  case $flag in
    n) runs=$OPTARG ;;
    s) settle=$OPTARG ;;
    *) echo "usage: $0 [-n RUNS] [-s SETTLE]" >&2; exit 2 ;;
  esac
done
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target welkmora welkmora-host >/dev/null

work=$(mktemp -d)
host_pid=
trap '[ -n "$host_pid" ] && kill -TERM "$host_pid" 2>/dev/null; wait; rm -rf "$work"' EXIT
export PATH="$PWD/build:$PATH" WELKMORA_DEMO_DELAY=1
welkmora-host serve --socket "$work/host.sock" --state "$work/state.json" --settle "$settle" \
  </dev/null 2>"$work/host.log" &
host_pid=$!
until [ -S "$work/host.sock" ]; do sleep 0.05; done
eval "$(welkmora-host join Lead --socket "$work/host.sock" 2>/dev/null)"
for agent in A B; do
  welkmora recruit "$agent" --command welkmora-demo-agent >/dev/null
  until welkmora check "$agent" | grep -q 'demo>'; do sleep 0.05; done
done

# Runs "$@" RUNS times and prints each wall time and their mean, in seconds.
measure() {
  local label=$1 total=0 start end ms
  shift
  printf '%-8s' "$label"
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    ms=$(((end - start) / 1000000))
    total=$((total + ms))
    printf ' %d.%03d' $((ms / 1000)) $((ms % 1000))
  done
  ms=$((total / runs))
  printf '   mean %d.%03d s\n' $((ms / 1000)) $((ms % 1000))
}

echo "settle $settle, agents think 1 s, $runs runs each (seconds):"
measure single welkmora ask A "hello"
measure batch welkmora ask --batch '{"A":"one","B":"two"}'
