#!/usr/bin/env bash
# Times `welkmora ask` against `welkmora-host serve` with its default turn
# rule, the way agents use it all day. Each case runs RUNS times (default 5;
# -n RUNS changes that); every answer's text is checked, and the wall time of
# each run, their median and the best are printed. The cases:
#
#   bash      `echo hi` to an interactive bash                 answer "hi"
#   python    `print(6*7)` to an interactive python3           answer "42"
#   agent     a demo agent that thinks one second              "Answer: hello"
#   batch     one --batch to ten such demo agents at once      ten answers
#   silent    `sleep 3; echo done` to bash                     "done", and the
#             next ask (`echo next`, not timed) answers "next" alone
#   cancel    an ask to a demo agent whose client is killed after half a
#             second: the time from its end until the peer takes the next
#             ask, whose answer must hold "Answer: again"
#   dash zsh fish node sqlite3 bc ed gdb lua
#             one short command each (`echo hi`, `6*7`, `select 6*7;`, gdb's
#             `echo 42\n`, ...),
#             the program started by `sh -c` as a recruit's --command is
#   read      bash answers `y` to `read -p 'Continue? ' r` (not timed) and
#             the time of that answer: the turn ends at the prompt again
#   cd        `cd /` and back to bash: the prompt changed
#   input     python answers `bob` to input() (not timed), timed
#   agent-inline agent-full agent-ink
#             the agent stand-ins of tests/harness (agent-tui, agent-tui
#             --full, agent-ink.js under node) asked "hello there" AGENT_RUNS
#             times (default 20; -a RUNS): each thinks 1 to 3 s and pauses
#             0.7 s in its streamed answer. Reported: the time from the
#             agent's last output (it writes the time of its last drawing to
#             a file) to the answer, median and worst.
#
# Programs that are not installed are left out.
# -s TIME runs the host with that settle time; -B DIR uses (and builds) the
# build tree DIR (default build). It ends with status 1 when any answer was
# wrong. Not part of the test suite; the figures go in doc/benchmarks.md.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5
agent_runs=20
settle=
build=build
while getopts n:a:s:B: flag; do
  case $flag in
    n) runs=$OPTARG ;;
    a) agent_runs=$OPTARG ;;
    s) settle=$OPTARG ;;
    B) build=$OPTARG ;;
    *) echo "usage: $0 [-n RUNS] [-a AGENT_RUNS] [-s SETTLE] [-B BUILD_DIR]" >&2; exit 2 ;;
  esac
done
bash scripts/setup.sh
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target welkmora welkmora-host >/dev/null
python=$(command -v /usr/bin/python3 python3 | head -n 1)

work=$(mktemp -d)
host_pid=
trap '[ -n "$host_pid" ] && kill -TERM "$host_pid" 2>/dev/null; wait; rm -rf "$work"' EXIT
[[ $build == /* ]] || build=$PWD/$build
export PATH="$build:$PATH" WELKMORA_DEMO_DELAY=1
welkmora-host serve --socket "$work/host.sock" --state "$work/state.json" ${settle:+--settle "$settle"} \
  </dev/null 2>"$work/host.log" &
host_pid=$!
until [ -S "$work/host.sock" ]; do sleep 0.05; done
eval "$(welkmora-host join Lead --socket "$work/host.sock" 2>/dev/null)"

# recruit NAME READY COMMAND: recruits and waits until its screen shows READY.
recruit() {
  welkmora recruit "$1" --command "$3" >/dev/null
  until welkmora check "$1" | grep -qF -- "$2"; do sleep 0.05; done
}
recruit Sh 'bash-' 'exec bash --norc --noprofile'
recruit Py '>>>' "exec $python -q"
agents=()
for i in 0 1 2 3 4 5 6 7 8 9; do
  recruit "D$i" 'demo>' 'exec welkmora-demo-agent'
  agents+=("\"D$i\":\"p$i\"")
done
batch="{$(IFS=,; echo "${agents[*]}")}"
# Other programs, as a user's --command starts them (by sh -c).
others=()
other() {
  command -v "$2" >/dev/null || return 0
  recruit "$1" "$3" "$4"
  others+=("$1")
}
other Da dash '$' "PS1='$ ' dash"
other Zs zsh '%' "PS1='%% ' zsh -f"
other Fi fish '' 'fish'
other No node '>' 'node'
other Sq sqlite3 'sqlite>' 'sqlite3'
other Bc bc '' 'bc -q'
other Ed ed '' 'ed'
other Gd gdb '(gdb)' 'gdb -q -nx'
other Lu lua5.4 '>' 'lua5.4'
recruit Rd 'bash-' 'exec bash --norc --noprofile'
recruit In '>>>' "exec $python -q"
# The agent stand-ins, with their own timing (think 1-3 s, pause 0.7 s).
harness=$PWD/tests/harness
recruit Ai 'for shortcuts' "AGENT_LOG=$work/Ai.last exec '$harness/agent-tui'"
recruit Af 'for shortcuts' "AGENT_LOG=$work/Af.last exec '$harness/agent-tui' --full"
command -v node >/dev/null && recruit Ak 'for shortcuts' "AGENT_LOG=$work/Ak.last exec node '$harness/agent-ink.js'"
batch_answer=$(for i in 0 1 2 3 4 5 6 7 8 9; do printf '=== D%s ===\nAnswer: p%s\n\n' "$i" "$i"; done)

wrong=0
ms_text() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# check LABEL EXPECTED GOT: counts and shows a wrong answer.
check() {
  [ "$2" == "$3" ] && return 0
  wrong=$((wrong + 1))
  printf '  %s: wrong answer: %q\n' "$1" "$3" >&2
}

# report LABEL MS...: the runs, their median and the best.
report() {
  local label=$1
  shift
  local sorted
  sorted=($(printf '%s\n' "$@" | sort -n))
  printf '%-8s median %s  best %s   runs:' "$label" "$(ms_text "${sorted[$((${#sorted[@]} / 2))]}")" \
    "$(ms_text "${sorted[0]}")"
  for ms in "$@"; do printf ' %s' "$(ms_text "$ms")"; done
  echo
}

# timed LABEL EXPECTED ARGS...: runs `welkmora ask ARGS` RUNS times.
timed() {
  local label=$1 expected=$2 times=() start got
  shift 2
  for _ in $(seq "$runs"); do
    start=$(now_ms)
    got=$(welkmora ask "$@" 2>&1) || true
    times+=($(($(now_ms) - start)))
    check "$label" "$expected" "$got"
  done
  report "$label" "${times[@]}"
}

silent() {
  local times=() start got
  for _ in $(seq "$runs"); do
    start=$(now_ms)
    got=$(welkmora ask Sh 'sleep 3; echo done' 2>&1) || true
    times+=($(($(now_ms) - start)))
    check silent done "$got"
    check "silent (next)" next "$(welkmora ask Sh 'echo next' 2>&1 || true)"
  done
  report silent "${times[@]}"
}

# The time from the killed client's end to the start of the first ask that
# the peer takes (refusals as busy come back at once).
cancel() {
  local times=() gone start got
  for _ in $(seq "$runs"); do
    timeout 0.5 welkmora ask D0 hello >/dev/null 2>&1 || true
    gone=$(now_ms)
    while :; do
      start=$(now_ms)
      got=$(welkmora ask D0 again 2>&1) || true
      [[ $got == *busy* ]] || break
      sleep 0.02
    done
    times+=($((start - gone)))
    # The agent still finishes the cancelled prompt: both answers show.
    [[ $got == *'Answer: again'* ]] || check cancel '...Answer: again...' "$got"
  done
  report cancel "${times[@]}"
}

echo "$(uptime)"
echo "settle ${settle:-default}, $runs runs each, wall time in seconds:"
timed bash hi Sh 'echo hi'
timed python 42 Py 'print(6*7)'
timed agent 'Answer: hello' D0 hello
timed batch "$batch_answer" --batch "$batch"
silent
cancel
has() { [[ " ${others[*]} " == *" $1 "* ]]; }
! has Da || timed dash hi Da 'echo hi'
! has Zs || timed zsh hi Zs 'echo hi'
! has Fi || timed fish hi Fi 'echo hi'
! has No || timed node 42 No '6*7'
! has Sq || timed sqlite3 42 Sq 'select 6*7;'
! has Bc || timed bc 42 Bc '6*7'
! has Ed || timed ed '?' Ed 'p'
! has Gd || timed gdb 42 Gd 'echo 42\n'
! has Lu || timed lua 42 Lu 'print(6*7)'
answered() {
  local label=$1 name=$2 question=$3 reply=$4 expected=$5 times=() start got
  for _ in $(seq "$runs"); do
    welkmora ask "$name" "$question" >/dev/null 2>&1 || true
    start=$(now_ms)
    got=$(welkmora ask "$name" "$reply" 2>&1) || true
    times+=($(($(now_ms) - start)))
    check "$label" "$expected" "$got"
  done
  report "$label" "${times[@]}"
}
# lagged LABEL NAME PREFIX: asks agent NAME "hello there" AGENT_RUNS times;
# the time from its last drawing to the answer, median and worst.
lagged() {
  local label=$1 name=$2 prefix=$3 lags=() got end last sorted
  for i in $(seq "$agent_runs"); do
    got=$(welkmora ask "$name" 'hello there' 2>&1) || true
    end=$(($(date +%s%N) / 1000))
    last=$(<"$work/$name.last")
    lags+=($(((end - 10#${last/./}) / 1000)))
    check "$label" "${prefix}Answer #$i: hello there" "$got"
  done
  sorted=($(printf '%s\n' "${lags[@]}" | sort -n))
  printf '%-13s after its last output: median %s  worst %s   runs:' "$label" \
    "$(ms_text "${sorted[$((${#sorted[@]} / 2))]}")" "$(ms_text "${sorted[-1]}")"
  for ms in "${lags[@]}"; do printf ' %s' "$(ms_text "$ms")"; done
  echo
}
answered read Rd "read -p 'Continue? ' r" y '(keine Ausgabe)'
answered cd Rd 'cd /tmp' 'cd /' '(keine Ausgabe)'
answered input In "x = input('Name? ')" bob '(keine Ausgabe)'
lagged agent-inline Ai ''
lagged agent-full Af ''
! command -v node >/dev/null || lagged agent-ink Ak '⏺ '
echo "$(uptime)"
[ "$wrong" -eq 0 ] || { echo "$wrong wrong answers" >&2; exit 1; }
