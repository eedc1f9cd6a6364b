#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the fuzzers (clang with
# libFuzzer and its sanitizer runtimes, llvm's symbolizer) and the
# development host need. Idempotent; quick when everything is present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config binutils
  protobuf-compiler protobuf-compiler-grpc libprotobuf-dev libgrpc++-dev
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-grpcio python3-protobuf openssl
  clang-14 libclang-rt-14-dev llvm-14
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
