#!/usr/bin/env bash
# Sets up, builds and starts the development host serving the module with
# its built-in sample configuration. Arguments go to acl-devhost, e.g.
#   scripts/run_devhost.sh --token secret --listen 127.0.0.1:50051
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target acl-devhost aclctl
exec build/acl-devhost "$@"
