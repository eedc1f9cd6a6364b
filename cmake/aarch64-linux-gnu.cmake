# Toolchain file: builds everything for arm64 (aarch64) Linux on another
# machine, and runs the built programs through qemu's user-mode emulator.
#
#   cmake -S . -B build-arm64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# Two layouts of the target's libraries:
#
#   multiarch (the default): Debian's g++-aarch64-linux-gnu and the arm64
#     development packages installed next to the build machine's own
#     (dpkg --add-architecture arm64; scripts/setup.sh --arm64 does it):
#     headers in /usr/include, libraries in /usr/lib/aarch64-linux-gnu.
#
#   sysroot: a firmware team's own compiler and a copy of the device's root
#     file system with its development files, for example
#       -DACL_CROSS_PREFIX=/opt/fw/bin/aarch64-fw-linux-gnu-
#       -DACL_SYSROOT=/opt/fw/sysroot
#     Headers, libraries and pkg-config files are then taken from the sysroot
#     only.
#
# Programs the build runs (protoc, grpc_cpp_plugin) always come from the
# build machine; libraries, headers and packages always from the target.
# ctest runs each test program as `qemu-aarch64-static -L ROOT program`
# (ACL_EMULATOR, ACL_EMULATOR_ROOT), so no binfmt_misc is needed.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ACL_CROSS_PREFIX "aarch64-linux-gnu-" CACHE STRING
    "Prefix of the cross tools: a name prefix or a full path prefix")
set(ACL_SYSROOT "" CACHE PATH
    "Root of the target's files; empty: Debian multiarch on this machine")
set(ACL_EMULATOR "qemu-aarch64-static" CACHE STRING
    "User-mode emulator that runs the target's programs")
set(ACL_EMULATOR_ROOT "" CACHE PATH
    "Root of the target's loader and libraries for the emulator; empty: the sysroot, or / for multiarch")
# The compiler checks' own projects read this file again with these.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     ACL_CROSS_PREFIX ACL_SYSROOT ACL_EMULATOR ACL_EMULATOR_ROOT)

set(CMAKE_C_COMPILER ${ACL_CROSS_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${ACL_CROSS_PREFIX}g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

if(ACL_SYSROOT)
  set(CMAKE_SYSROOT ${ACL_SYSROOT})
  set(CMAKE_FIND_ROOT_PATH ${ACL_SYSROOT})
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  set(_acl_pc_root ${ACL_SYSROOT})
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${ACL_SYSROOT})
else()
  set(_acl_pc_root "")
  # Multiarch shares /usr with the build machine: keep its own libraries
  # and CMake packages out of every search.
  list(APPEND CMAKE_IGNORE_PATH
       /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
       /usr/lib/x86_64-linux-gnu/cmake)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# pkg-config reads the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR}
    "${_acl_pc_root}/usr/lib/aarch64-linux-gnu/pkgconfig:${_acl_pc_root}/usr/lib/pkgconfig:${_acl_pc_root}/usr/share/pkgconfig")

if(ACL_EMULATOR_ROOT)
  set(_acl_emulator_root ${ACL_EMULATOR_ROOT})
elseif(ACL_SYSROOT)
  set(_acl_emulator_root ${ACL_SYSROOT})
else()
  set(_acl_emulator_root /)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${ACL_EMULATOR} -L ${_acl_emulator_root})
