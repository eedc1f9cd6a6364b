# The version, and the install layout that the programs and the targets
# must know: the version and the module's place relative to the programs as
# the generated header acl_version.h (interface target acl_version).
#
# The version number lives only in the root project(... VERSION x.y.z).

include(GNUInstallDirs)

# The module is loaded with dlopen, never linked: it goes in a directory of
# its own under the library directory.
set(ACL_MODULE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/acl_service)
set(ACL_INCLUDE_INSTALL_DIR ${CMAKE_INSTALL_INCLUDEDIR}/acl_service)
set(ACL_PROTO_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/acl_service/proto)
set(ACL_DOC_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/doc/acl-service)
set(ACL_PROMETHEUS_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/acl-service/prometheus)
set(ACL_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/AclService)
file(RELATIVE_PATH ACL_MODULE_DIR_FROM_BINDIR /${CMAKE_INSTALL_BINDIR}
     /${ACL_MODULE_INSTALL_DIR})

set(ACL_VERSION_DIR ${CMAKE_BINARY_DIR}/gen/version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/acl_version.h.in
               ${ACL_VERSION_DIR}/acl_version.h @ONLY)
add_library(acl_version INTERFACE)
target_include_directories(acl_version INTERFACE
                           $<BUILD_INTERFACE:${ACL_VERSION_DIR}>)
