#!/usr/bin/env bash
# Sets up, builds and runs every test: once in a plain build, once under
# AddressSanitizer/LeakSanitizer and UndefinedBehaviorSanitizer; then the
# concurrency check and its racy canary under ThreadSanitizer; then builds
# the fuzzers and runs each for a short while (FUZZ_SECONDS, default 30).
#
# --arm64: the arm64 stage instead (scripts/test_arm64.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --arm64 ]; then exec scripts/test_arm64.sh; fi

scripts/setup.sh

run() {  # run DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
  (cd "$dir" && ctest --output-on-failure)
}

run build
ASAN_OPTIONS=detect_leaks=1 run build-asan -DACL_SANITIZE=ON

# ThreadSanitizer: only the concurrency check and the canary are built.
cmake -S . -B build-tsan -G Ninja -DACL_TSAN=ON >/dev/null
cmake --build build-tsan --target concurrency_tests tsan_canary
(cd build-tsan && ctest -L tsan --output-on-failure)

scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
