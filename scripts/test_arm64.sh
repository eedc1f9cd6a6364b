#!/usr/bin/env bash
# The arm64 stage (scripts/test.sh --arm64): installs the cross build's
# packages (scripts/setup.sh --arm64), builds everything for arm64 in
# build-arm64 with cmake/aarch64-linux-gnu.cmake, checks that every program,
# library and object it made is arm64, and runs its tests under
# qemu-aarch64-static: the module's, the concurrency, host and checker
# tests, the arm64 Debian package unpacked and serving, and cross_e2e (the
# end-to-end suite's amd64 clients against the emulated arm64 acl-devhost,
# which must answer as the amd64 one does; the amd64 programs come from
# build/, built here when missing). tests/CMakeLists.txt says which tests a cross build leaves out.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --arm64

scripts/configure.sh build
cmake --build build --target acl-devhost aclctl acl_service

scripts/configure.sh build-arm64 \
    -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
    -DACL_NATIVE_BUILD="$PWD/build"
cmake --build build-arm64

# No file of the build machine's architecture slipped in.
wrong=0
while IFS= read -r -d '' file; do
  [ "$(head -c4 "$file")" = $'\x7fELF' ] || continue
  machine=$(readelf -h "$file" | sed -n 's/^ *Machine: *//p')
  if [ "$machine" != AArch64 ]; then
    echo "not arm64 ($machine): $file" >&2
    wrong=1
  fi
done < <(find build-arm64 -path build-arm64/package-test -prune -o \
              -type f \( -name '*.o' -o -name '*.so' -o -perm -u+x \) -print0)
[ "$wrong" -eq 0 ]

(cd build-arm64 && ctest --output-on-failure)
