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
#     print VERSION, as does acl-exporter (native builds only) with its
#     service (exporter_service below) and its Prometheus rules; the
#     packaged Python example finds the packaged schema and gets answers. A
#     cross build's programs run through EMULATOR (such as
#     qemu-aarch64-static -L /).
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
TREE=$(cd "$(dirname "$0")/.." && pwd)  # the source tree

devhost_pid=
trap '[ -n "$devhost_pid" ] && kill "$devhost_pid" 2>/dev/null || true' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# The exporter's service in the unpacked ROOT: the unit runs it as the
# system user acl-exporter, which the sysusers file creates (checked by
# systemd-sysusers into a scratch root) and the postinst makes, reading its
# files in place (no copy, so a reload sees a rotated token file) and
# reloading on SIGHUP; the rules are installed as they stand in the tree.
exporter_service() {
  local root=$1 control=$2
  local unit=$root/usr/lib/systemd/system/acl-exporter.service
  local sysusers=$root/usr/lib/sysusers.d/acl-exporter.conf
  local rules=$root/usr/share/acl-service/prometheus
  for line in 'User=acl-exporter' 'Group=acl-exporter' \
              'ExecReload=/bin/kill -HUP $MAINPID' 'NoNewPrivileges=yes' \
              'ProtectSystem=strict'; do
    grep -qxF "$line" "$unit" || fail "acl-exporter unit lacks $line"
  done
  grep -Eq '^ExecStart=/usr/bin/acl-exporter --token-file /etc/acl-exporter/tokens( |$)' \
      "$unit" || fail "acl-exporter unit does not read /etc/acl-exporter/tokens"
  ! grep -Eq '^(DynamicUser|LoadCredential)' "$unit" ||
    fail "acl-exporter unit copies its credentials or runs as a dynamic user"
  if command -v systemd-sysusers >/dev/null; then
    mkdir -p "$tmp/sysroot/etc"
    quiet "$tmp/sysusers.log" systemd-sysusers --root "$tmp/sysroot" - <"$sysusers"
    grep -q '^acl-exporter:x:[0-9]*:[0-9]*:.*nologin$' "$tmp/sysroot/etc/passwd" ||
      fail "the sysusers file makes no acl-exporter system user"
    grep -q '^acl-exporter:' "$tmp/sysroot/etc/group" ||
      fail "the sysusers file makes no acl-exporter group"
  fi
  grep -q 'systemd-sysusers' "$control/postinst" ||
    fail "the postinst does not create the acl-exporter user"
  # Installed as they are in monitoring/, which monitoring_rules checks.
  for file in alerts.yml rules.yml; do
    cmp -s "$rules/$file" "$TREE/monitoring/$file" ||
      fail "$rules/$file is not monitoring/$file"
  done
}

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
  dpkg -e "$package" "$tmp/control"
  local doc=$tmp/root/usr/share/doc/acl-service
  for file in copyright changelog.gz README.md docs/integrating.md \
              examples/client.py; do
    [ -f "$doc/$file" ] || fail "no $file in the package's doc folder"
  done
  local bin=$tmp/root/usr/bin
  local programs=(acl-devhost aclctl)
  if [ ${#run[@]} -eq 0 ]; then  # acl-exporter is not cross-built
    programs+=(acl-exporter)
    exporter_service "$tmp/root" "$tmp/control"
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

  local example=$tmp/root/usr/share/doc/acl-service/examples/client.py
  local schema=/usr/share/acl_service/proto
  [ -f "$tmp/root$schema/acl_tree.proto" ] || fail "no schema in $schema"
  grep -q "\"$schema\"" "$example" || fail "the example does not look in $schema"
  quiet "$tmp/example.log" /usr/bin/python3 "$example" --addr "$addr" \
      --token "$TOKEN" --proto-dir "$tmp/root$schema"
  grep -q '^GetJsonACLBase: ' "$tmp/example.log" ||
    fail "the example got no answer: $(cat "$tmp/example.log")"
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
