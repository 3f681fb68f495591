#!/usr/bin/env bash
# Formats every C and C++ file the repository tracks as .clang-format says;
# with --check, changes nothing and fails when a file is not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=(-i)
[ "${1:-}" = "--check" ] && mode=(--dry-run --Werror)
git ls-files -z -- '*.c' '*.cpp' '*.h' | xargs -0 -r clang-format "${mode[@]}"
