#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the fuzzers (clang with
# libFuzzer and its sanitizer runtimes, llvm's symbolizer), the development
# host, the exporter (prometheus-cpp, civetweb, simdjson, CLI11), its test
# (Debian's prometheus server), the load test (benchmarks/load.sh: h2load,
# curl, valgrind) and the fleet plot (matplotlib) need,
# and buf (the schema linter, pinned) from npm into .tools/buf.
# Idempotent; quick when everything is present.
set -euo pipefail
cd "$(dirname "$0")/.."

BUF_VERSION=1.75.0
BUF_DIR=.tools/buf

packages=(
  cmake ninja-build g++ pkg-config binutils
  protobuf-compiler protobuf-compiler-grpc libprotobuf-dev libgrpc++-dev
  nlohmann-json3-dev libcli11-dev libsimdjson-dev libgtest-dev libgmock-dev
  libbenchmark-dev
  python3 python3-grpcio python3-protobuf openssl
  nghttp2-client curl valgrind dpkg-dev
  clang-14 libclang-rt-14-dev llvm-14
  prometheus-cpp-dev libcivetweb-dev prometheus
)
# buf comes from npm: Debian's npm when the machine has none.
command -v npm >/dev/null || packages+=(npm)

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

if [ "$("$BUF_DIR/node_modules/.bin/buf" --version 2>/dev/null)" != "$BUF_VERSION" ]; then
  echo "setup: installing buf $BUF_VERSION into $BUF_DIR"
  npm install --prefix "$BUF_DIR" --no-save --no-package-lock --no-audit \
      --no-fund --loglevel=error "@bufbuild/buf@$BUF_VERSION" >/dev/null
fi
