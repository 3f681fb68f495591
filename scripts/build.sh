#!/usr/bin/env bash
# Configures and builds into build/ (or $1) with CMake and Ninja.
# Extra arguments are passed to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja ${CI:+-DWELKMORA_WERROR=ON} "$@" >/dev/null
cmake --build "$dir"
