#!/usr/bin/env bash
# Installs what building needs (scripts/setup.sh --build) and builds the
# programs in a Release build of their own, build-release/, showing its
# progress; a second run finds nothing to do. scripts/start.sh and
# scripts/demo.sh run from it.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-release
bash scripts/setup.sh --build
if [ ! -f "$dir/build.ninja" ]; then
  echo "build: configuring a Release build in $dir/"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DWELKMORA_TESTS=OFF -DWELKMORA_MAN_PAGES=OFF \
    ${CI:+-DWELKMORA_WERROR=ON} >/dev/null
fi
if [ -x "$dir/welkmora-host" ]; then
  echo "build: bringing $dir/ up to date"
else
  echo "build: building welkmora in $dir/ (the first time takes a few minutes)"
fi
NINJA_STATUS='[%f/%t %p] ' cmake --build "$dir" --target welkmora welkmora-host
