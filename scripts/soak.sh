#!/usr/bin/env bash
# Sets up, builds a Release tree in build-bench/ and runs the soak run of
# welkmora-host (bench/soak.cpp): list latency with 5000 idle connections and
# with a terminal flooding output, peak memory under oversized and unread
# requests, processes left after stop, and the state file over kill -9
# cycles. A few minutes at most; everything runs on this machine.
# Arguments go to bench/soak (--cycles N, default 200).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DWELKMORA_BENCH=ON -DWELKMORA_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench --target soak welkmora-host
exec timeout 600 build-bench/bench/soak --host build-bench/welkmora-host "$@"
