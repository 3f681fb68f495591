#!/usr/bin/env bash
# Sets up, builds and shows the client's help text.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
./build/welkmora help
