#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for a
# bounded time (FUZZ_SECONDS, default 60) over its seed corpus. New inputs go
# to a scratch directory; a crash leaves its input in fuzz-out/ and fails.
# A target may have a dictionary of tokens, fuzz/NAME.dict.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
CXX=clang++ bash scripts/build.sh build-fuzz -DWELKMORA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
mkdir -p fuzz-out
status=0
for bin in build-fuzz/fuzz/*_fuzz; do
  name=$(basename "$bin" _fuzz)
  scratch=$(mktemp -d)
  echo "fuzz: $name for ${seconds}s"
  dict=(); [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  if ! "$bin" "${dict[@]}" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=20 -print_final_stats=0 \
        -artifact_prefix="fuzz-out/$name-" "$scratch" "fuzz/corpus/$name" >"fuzz-out/$name.log" 2>&1; then
    echo "fuzz: $name found a failure; see fuzz-out/$name.log" >&2
    tail -n 40 "fuzz-out/$name.log" >&2
    status=1
  fi
  rm -rf "$scratch"
done
exit $status
