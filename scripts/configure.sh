#!/usr/bin/env bash
# Configures a build directory the way scripts/test.sh builds it:
#
#   scripts/configure.sh DIR [cmake options...]
#
# A sanitizer build (-DACL_SANITIZE=ON) is made with clang, so that it also
# links the fuzzers; every other build with the default compiler. ccache is
# used when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=$1; shift
options=(-G Ninja)
case " $* " in
  *" -DACL_SANITIZE=ON "*) options+=(-DCMAKE_CXX_COMPILER=clang++-14) ;;
esac
command -v ccache >/dev/null &&
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" "${options[@]}" "$@" >/dev/null
