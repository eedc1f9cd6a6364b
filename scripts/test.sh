#!/usr/bin/env bash
# Sets up, builds and runs every test: once in a plain build, once under
# AddressSanitizer/LeakSanitizer and UndefinedBehaviorSanitizer; then builds
# the fuzzers and runs each for a short while (FUZZ_SECONDS, default 30).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

run() {  # run DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
  (cd "$dir" && ctest --output-on-failure)
}

run build
ASAN_OPTIONS=detect_leaks=1 run build-asan -DACL_SANITIZE=ON
scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
