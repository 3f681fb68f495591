#!/usr/bin/env bash
# Sets up, builds a Release tree in build-bench/ and runs the round-trip
# benchmark: welkmora against a minimal C client for small, 64 KiB and
# 16 MiB `check` replies and a `list` of 1000 agents and 1000 notes, with
# the ratios of wall time and peak memory and their goals. Arguments go to
# bench/roundtrip (-n RUNS, --warmup RUNS, --case NAME, --callgrind,
# --welkmora PATH); --callgrind is added by itself when valgrind is
# installed. Exits with status 3 when a ratio misses its goal.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DWELKMORA_BENCH=ON -DWELKMORA_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench --target roundtrip
args=("$@")
if command -v valgrind >/dev/null && [[ " ${args[*]-} " != *" --callgrind "* ]]; then
  args+=(--callgrind)
fi
exec build-bench/bench/roundtrip "${args[@]}"
