#!/usr/bin/env bash
# Sets up, builds and starts the development host serving the module with
# its built-in sample configuration. Arguments go to acl-devhost, e.g.
#   scripts/run_devhost.sh --token secret --listen 127.0.0.1:50051
#
# build/ is configured and built as scripts/test.sh does (scripts/configure.sh,
# every target), so that the test command and `cpack` find it up to date.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/configure.sh build
cmake --build build
exec build/acl-devhost "$@"
