#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the fuzzers (clang with
# libFuzzer and its sanitizer runtimes, llvm's symbolizer), the development
# host, the exporter (prometheus-cpp, libmicrohttpd with GnuTLS, yaml-cpp,
# libxcrypt, simdjson, CLI11), its test (Debian's prometheus server), the
# package (help2man for the manual pages), the package test (CPack's
# dpkg-shlibdeps and file, lintian) and the load test (benchmarks/load.sh:
# h2load, curl, valgrind)
# need, and buf (the schema linter, pinned) from npm into .tools/buf.
# Idempotent; quick when everything is present.
#
# --arm64: also the cross build's packages (scripts/test_arm64.sh): Debian's
# aarch64 compiler, qemu-user-static, and the arm64 libraries (multiarch,
# next to the amd64 ones). Every install is simulated first and refused when
# apt would remove a package.
set -euo pipefail
cd "$(dirname "$0")/.."

arm64=false
[ "${1:-}" = --arm64 ] && arm64=true

BUF_VERSION=1.75.0
BUF_DIR=.tools/buf

packages=(
  cmake ninja-build g++ pkg-config binutils
  protobuf-compiler protobuf-compiler-grpc libprotobuf-dev libgrpc++-dev
  nlohmann-json3-dev libcli11-dev libsimdjson-dev libgtest-dev libgmock-dev
  libbenchmark-dev
  python3 python3-grpcio python3-protobuf python3-h2 openssl
  nghttp2-client curl valgrind dpkg-dev file help2man lintian
  clang-14 libclang-rt-14-dev llvm-14
  prometheus-cpp-dev libmicrohttpd-dev libgnutls28-dev libyaml-cpp-dev
  libcrypt-dev prometheus
)
# buf comes from npm: Debian's npm when the machine has none.
command -v npm >/dev/null || packages+=(npm)

# The arm64 build's packages. simdjson's -dev package cannot be installed
# for two architectures at once: the arm64 build takes its (architecture-
# independent) header from the amd64 one and links the arm64 run-time
# library by path (cmake/Findsimdjson.cmake).
arm64_packages=(
  g++-aarch64-linux-gnu qemu-user-static
  libgrpc++-dev:arm64 libprotobuf-dev:arm64 libgtest-dev:arm64
  libgmock-dev:arm64 libmimalloc-dev:arm64 libsimdjson14:arm64
  libsimdjson-dev libmimalloc-dev libcli11-dev
)
$arm64 && packages+=("${arm64_packages[@]}")

sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"

if $arm64 && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "setup: adding the arm64 architecture"
  $sudo_cmd dpkg --add-architecture arm64
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo_cmd apt-get update -qq
  # Other builds share this machine: never take a plan that removes any.
  plan=$(apt-get install -s --no-install-recommends "${missing[@]}")
  if grep '^Remv ' <<<"$plan"; then
    echo "setup: refused, apt would remove the packages above" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$("$BUF_DIR/node_modules/.bin/buf" --version 2>/dev/null)" != "$BUF_VERSION" ]; then
  echo "setup: installing buf $BUF_VERSION into $BUF_DIR"
  npm install --prefix "$BUF_DIR" --no-save --no-package-lock --no-audit \
      --no-fund --loglevel=error "@bufbuild/buf@$BUF_VERSION" >/dev/null
fi
