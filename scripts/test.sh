#!/usr/bin/env bash
# Sets up, builds and runs every test: the suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (leaks fail), a bounded run of each fuzz target,
# and the suite in the ordinary build. Fails when the suites leave files in
# the work tree that were not there before (build trees are ignored).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
tree_before=$(git status --porcelain 2>/dev/null || true)

echo "== sanitizer build"
bash scripts/build.sh build-asan -DWELKMORA_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:exitcode=86:abort_on_error=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=86 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzzing"
bash scripts/fuzz.sh

echo "== ordinary build"
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$jobs"

tree_after=$(git status --porcelain 2>/dev/null || true)
if [ "$tree_after" != "$tree_before" ]; then
  echo "test: the suites changed the work tree:" >&2
  diff <(echo "$tree_before") <(echo "$tree_after") >&2 || true
  exit 1
fi
