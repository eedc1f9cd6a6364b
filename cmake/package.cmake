# The Debian package: `cpack -G DEB` in the build directory packs what
# `cmake --install` installs, under /usr. Its run-time dependencies come from
# dpkg-shlibdeps on the packaged programs and module, so they name the Debian
# packages of the libraries they link (libgrpc++1.51, libprotobuf32, ...).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME acl-service)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The maintainer field needs an address (lintian: maintainer-address-missing).
set(CPACK_PACKAGE_CONTACT "ACL service developers <acl-service@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "gRPC service module answering access control list queries")
# Lines of at most 80 characters, as Debian's control format wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "The module libacl_service.so registers acl.ACLService with a device"
  "host's gRPC server. Also: acl-devhost, a development host that serves it"
  "on loopback; aclctl, a client for every method; acl-exporter, a"
  "Prometheus exporter for devices' ACL counters, with its systemd unit and"
  "Prometheus alerting and recording rules; the schema files; and the host"
  "kit (host interface headers, a CMake package and the host contract"
  "checker).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)  # programs and module without their debug data
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's architecture is the target's: a cross build's is not the
# build machine's (dpkg-shlibdeps then reads the target's libraries' shlibs,
# which the multiarch packages or the sysroot provide).
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  else()
    message(FATAL_ERROR "no Debian architecture for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
endif()
# The exporter's system user and its configuration directory
# (cmake/debian/postinst).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/cmake/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The Python example compiles the schema and calls with grpcio.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS
    "python3-grpcio, python3-protobuf, protobuf-compiler-grpc")
include(CPack)
