#!/usr/bin/env bash
# Sets up, builds and runs every test: once in a plain build; once under
# AddressSanitizer/LeakSanitizer and UndefinedBehaviorSanitizer, built with
# clang so that the same build links the fuzzers; then the concurrency check
# and its racy canary under ThreadSanitizer; last, each fuzzer for a short
# while (FUZZ_SECONDS, default 30).
#
# --arm64: the arm64 stage instead (scripts/test_arm64.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --arm64 ]; then exec scripts/test_arm64.sh; fi

scripts/setup.sh

run() {  # run DIR [cmake options...]
  local dir=$1; shift
  scripts/configure.sh "$dir" "$@"
  cmake --build "$dir"
  (cd "$dir" && ctest --output-on-failure -j2)
}

run build
ASAN_OPTIONS=detect_leaks=1 run build-asan -DACL_SANITIZE=ON

# ThreadSanitizer: only the concurrency check and the canary are built.
scripts/configure.sh build-tsan -DACL_TSAN=ON
cmake --build build-tsan --target concurrency_tests tsan_canary
(cd build-tsan && ctest -L tsan --output-on-failure)

scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
