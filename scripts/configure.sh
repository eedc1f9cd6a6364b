#!/usr/bin/env bash
# Configures a build directory the way scripts/test.sh builds it:
#
#   scripts/configure.sh DIR [cmake options...]
#
# A sanitizer build (-DACL_SANITIZE=ON) is made with clang, so that it also
# links the fuzzers; every other build with the default compiler. Debug
# information is line tables only. ccache is used when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=$1; shift
# Line tables are all the tests' backtraces and sanitizer reports need;
# full debug information would make every build a third slower.
options=(-G Ninja)
case " $* " in
  *" -DACL_SANITIZE=ON "*)
    options+=(-DCMAKE_CXX_COMPILER=clang++-14
              "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG") ;;
  *) options+=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG") ;;
esac
command -v ccache >/dev/null &&
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" "${options[@]}" "$@" >/dev/null
