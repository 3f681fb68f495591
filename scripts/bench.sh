#!/usr/bin/env bash
# Sets up, builds a Release tree in build-bench/ and runs the round-trip
# benchmark: `welkmora list` against a minimal C client. Arguments go to
# bench/roundtrip (-n RUNS, --warmup RUNS, --callgrind, --welkmora PATH);
# --callgrind is added by itself when valgrind is installed.
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
