# What `cmake --install` puts under the prefix, and the CMake package that
# a host project finds with find_package(AclService):
#
#   bin/acl-devhost, bin/aclctl            development host and client
#   bin/acl-exporter                       Prometheus exporter
#   lib/systemd/system/acl-exporter.service   its systemd unit
#   lib/sysusers.d/acl-exporter.conf       its system user and group
#   share/acl-service/prometheus/          its alerting and recording rules
#   lib/acl_service/libacl_service.so      the module (loaded with dlopen)
#   lib/libacl_hostcheck*.a                the host contract checker
#   include/acl_service/host/host_api.h    the host and registry operations
#   include/acl_service/tree/tree.h        the request tree's records
#   include/acl_service/hostcheck/         the checker's interface
#   share/acl_service/proto/               the schema files
#   share/man/man1/                        the programs' manual pages
#   share/doc/acl-service/                 README.md, docs/, the example
#                                          client, changelog, copyright
#                                          (cmake/docs.cmake)
#   lib/cmake/AclService/                  the package
#
# The package's targets: AclService::headers (the host interface),
# AclService::hostcheck and AclService::hostcheck_main (the checker and its
# program's main), and AclService::module, an imported MODULE library whose
# $<TARGET_FILE:...> is the path to dlopen. Its variables: AclService_MODULE
# (that path) and AclService_PROTO_DIR.

include(CMakePackageConfigHelpers)

install(TARGETS acl_service LIBRARY DESTINATION ${ACL_MODULE_INSTALL_DIR})
install(TARGETS acl-devhost aclctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET acl-exporter)
  install(TARGETS acl-exporter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES exporter/acl-exporter.service
          DESTINATION lib/systemd/system)
  install(FILES exporter/acl-exporter.sysusers
          DESTINATION lib/sysusers.d RENAME acl-exporter.conf)
  install(FILES monitoring/alerts.yml monitoring/rules.yml
          DESTINATION ${ACL_PROMETHEUS_INSTALL_DIR})
endif()
install(FILES host/host_api.h DESTINATION ${ACL_INCLUDE_INSTALL_DIR}/host)
install(FILES tree/tree.h DESTINATION ${ACL_INCLUDE_INSTALL_DIR}/tree)
install(FILES hostcheck/hostcheck.h
        DESTINATION ${ACL_INCLUDE_INSTALL_DIR}/hostcheck)
install(FILES proto/acl_tree.proto proto/grpc_service.proto
        DESTINATION ${ACL_PROTO_INSTALL_DIR})

# The host interface: headers only; a host provides every operation itself.
add_library(acl_headers INTERFACE)
target_include_directories(acl_headers INTERFACE
  $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>
  $<INSTALL_INTERFACE:${ACL_INCLUDE_INSTALL_DIR}>)
set_target_properties(acl_headers PROPERTIES EXPORT_NAME headers)
set_target_properties(acl_hostcheck PROPERTIES EXPORT_NAME hostcheck)
set_target_properties(acl_hostcheck_main PROPERTIES EXPORT_NAME hostcheck_main)
install(TARGETS acl_headers acl_hostcheck acl_hostcheck_main
        EXPORT AclServiceTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT AclServiceTargets NAMESPACE AclService::
        DESTINATION ${ACL_CMAKE_INSTALL_DIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/AclServiceConfig.cmake.in
  ${CMAKE_BINARY_DIR}/AclServiceConfig.cmake
  INSTALL_DESTINATION ${ACL_CMAKE_INSTALL_DIR}
  PATH_VARS ACL_MODULE_INSTALL_DIR ACL_PROTO_INSTALL_DIR)
write_basic_package_version_file(
  ${CMAKE_BINARY_DIR}/AclServiceConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/AclServiceConfig.cmake
              ${CMAKE_BINARY_DIR}/AclServiceConfigVersion.cmake
        DESTINATION ${ACL_CMAKE_INSTALL_DIR})
