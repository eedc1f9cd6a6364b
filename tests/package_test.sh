#!/usr/bin/env bash
# The release as its users get it, from the build directory BUILD (a plain
# or a sanitizer build):
#
#   package_test.sh deb BUILD VERSION ARCH [EMULATOR...]
#     cpack -G DEB; the package is acl-service_VERSION_ARCH.deb, lintian
#     finds no error in it (warnings are listed in docs/contributing.md),
#     its dependencies name the Debian gRPC and protobuf runtime packages,
#     and it carries the man pages, the guides, changelog and copyright;
#     unpacked into a temporary root, its acl-devhost serves with the
#     packaged module (found by itself) and its aclctl gets the answer; both
#     print VERSION, as does acl-exporter (native builds only), whose systemd
#     unit runs it as a dynamic (non-root) user. A cross build's programs run
#     through EMULATOR (such as qemu-aarch64-static -L /).
#
#   package_test.sh consumer BUILD SOURCE [CXX_FLAGS [LAUNCHER [CXX]]]
#     cmake --install into a temporary prefix; the host project in
#     SOURCE/tests/package_consumer finds the package there, builds, serves
#     one call through the installed module and passes the contract checker.
#     CXX is the compiler of BUILD: a sanitizer runtime must be the same.
#
# Each run works in BUILD/package-test/MODE, emptied first and left behind
# for a look after a failure.
set -euo pipefail

WAIT=20  # seconds: the bound of every wait
TOKEN=package-test

devhost_pid=
trap '[ -n "$devhost_pid" ] && kill "$devhost_pid" 2>/dev/null || true' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs a command with its output in LOG, shown only when it fails.
quiet() {
  local log=$1; shift
  "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "$*"; }
}

deb() {
  local build=$1 version=$2 arch=$3
  shift 3
  local run=("$@")  # the emulator, if any
  (cd "$build" && quiet "$tmp/cpack.log" cpack -G DEB -B "$tmp/out")
  local package=$tmp/out/acl-service_${version}_$arch.deb
  [ -f "$package" ] || fail "cpack made no $(basename "$package")"

  command -v lintian >/dev/null || fail "no lintian: run scripts/setup.sh"
  lintian "$package" >"$tmp/lintian.log" 2>&1 || true
  if grep -q '^E: ' "$tmp/lintian.log"; then
    grep '^[EW]: ' "$tmp/lintian.log" >&2
    fail "lintian found errors in $(basename "$package")"
  fi

  local depends
  depends=$(dpkg-deb -f "$package" Depends)
  for runtime in 'libgrpc++1.51' libprotobuf32; do
    grep -Eq "(^|, )${runtime//+/\\+}( |,|$)" <<<"$depends" ||
      fail "Depends lacks $runtime: $depends"
  done

  dpkg -x "$package" "$tmp/root"
  local doc=$tmp/root/usr/share/doc/acl-service
  for file in copyright changelog.gz README.md docs/integrating.md \
              examples/client.py; do
    [ -f "$doc/$file" ] || fail "no $file in the package's doc folder"
  done
  local bin=$tmp/root/usr/bin
  local programs=(acl-devhost aclctl)
  if [ ${#run[@]} -eq 0 ]; then  # acl-exporter is not cross-built
    programs+=(acl-exporter)
    grep -qx 'DynamicUser=yes' \
        "$tmp/root/usr/lib/systemd/system/acl-exporter.service" ||
      fail "no acl-exporter unit with DynamicUser=yes"
  fi
  for program in "${programs[@]}" acl-hostcheck; do
    [ -f "$tmp/root/usr/share/man/man1/$program.1.gz" ] ||
      fail "no man page for $program"
  done
  for program in "${programs[@]}"; do
    [ "$("${run[@]}" "$bin/$program" --version)" = "$program $version" ] ||
      fail "$program --version"
  done

  "${run[@]}" "$bin/acl-devhost" --listen 127.0.0.1:0 --token "$TOKEN" \
      >"$tmp/devhost.out" 2>"$tmp/devhost.err" &
  devhost_pid=$!
  local addr= answer
  for _ in $(seq $((WAIT * 10))); do
    addr=$(sed -n 's/^listening on //p' "$tmp/devhost.out")
    [ -z "$addr" ] && kill -0 "$devhost_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$addr" ] ||
    { cat "$tmp/devhost.err" >&2; fail "acl-devhost did not listen"; }
  answer=$("${run[@]}" "$bin/aclctl" --addr "$addr" --token "$TOKEN" --raw Base) ||
    fail "aclctl Base"
  [ "$answer" = '{"Base":{"ProcessingStatus":1}}' ] ||
    fail "unexpected answer: $answer"
  echo "package $(basename "$package"): serves; Depends: $depends"
}

consumer() {
  local build=$1 source=$2 flags=${3:-} launcher=${4:-} cxx=${5:-c++}
  quiet "$tmp/install.log" cmake --install "$build" --prefix "$tmp/prefix"
  quiet "$tmp/configure.log" cmake -S "$source/tests/package_consumer" \
      -B "$tmp/host" -G Ninja -DCMAKE_PREFIX_PATH="$tmp/prefix" \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" \
      -DCMAKE_CXX_COMPILER="$cxx"
  quiet "$tmp/build.log" cmake --build "$tmp/host" -j2
  for program in example_host example_hostcheck; do
    "$tmp/host/$program" || fail "$program"
  done
}

mode=${1:-}
[ $# -ge 2 ] && [ "$mode" = deb -o "$mode" = consumer ] ||
  fail "usage: package_test.sh deb|consumer BUILD ..."
shift
tmp=$(realpath "$1")/package-test/$mode
rm -rf "$tmp"
mkdir -p "$tmp"
"$mode" "$@"
