# The documentation the package carries, made at build time (part of the
# default build, so that `cmake --install` and cpack find it):
#
#   man/PROGRAM.1.gz   each program's manual page, made from its --help and
#                      --version by help2man (target man); skipped with a
#                      notice when help2man is missing
#   changelog.gz       CHANGELOG.md, as Debian names a package's changelog
#                      (target changelog)
#
# A cross build runs its programs through CMAKE_CROSSCOMPILING_EMULATOR to
# ask their --help, so its package has the same pages.
#
# acl-hostcheck's page comes from the development host's checker
# (tests/acl-hostcheck-devhost): the program is the host's own build of the
# checker's main, whose flags and text are the same for every host.

set(ACL_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(ACL_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/changelog.gz)

# One row per page: the page's name, the target whose program it describes,
# and the NAME line's summary.
set(ACL_MAN_PAGES
  "acl-devhost|acl-devhost|development host serving the ACL service module on loopback"
  "aclctl|aclctl|call the methods of acl.ACLService on one device or many"
  "acl-exporter|acl-exporter|Prometheus exporter of network devices' ACL counters"
  "acl-hostcheck|acl-hostcheck-devhost|check a host's operations against what the ACL service module relies on")

find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)

# The programs run for their --help: directly, or under the emulator. The
# emulator goes in the same argument as the program, which help2man runs
# through the shell.
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " ACL_MAN_RUN)
if(ACL_MAN_RUN)
  string(APPEND ACL_MAN_RUN " ")
endif()

set(ACL_MAN_FILES "")
if(HELP2MAN)
  file(MAKE_DIRECTORY ${ACL_MAN_DIR})
  foreach(row IN LISTS ACL_MAN_PAGES)
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 page)
    list(GET row 1 program)
    list(GET row 2 summary)
    if(NOT TARGET ${program})  # acl-exporter is not cross-built
      continue()
    endif()
    set(out ${ACL_MAN_DIR}/${page}.1)
    add_custom_command(
      OUTPUT ${out}.gz
      COMMAND ${HELP2MAN} --no-info --section=1 --name=${summary}
              --output=${out} "${ACL_MAN_RUN}$<TARGET_FILE:${program}>"
      COMMAND ${GZIP} -9nf ${out}
      DEPENDS ${program}
      COMMENT "Manual page ${page}(1)"
      VERBATIM)
    list(APPEND ACL_MAN_FILES ${out}.gz)
  endforeach()
  add_custom_target(man ALL DEPENDS ${ACL_MAN_FILES})
else()
  message(STATUS "help2man not found: no manual pages (scripts/setup.sh "
                 "installs it)")
endif()

add_custom_command(
  OUTPUT ${ACL_CHANGELOG_GZ}
  COMMAND ${GZIP} -9nc ${CMAKE_SOURCE_DIR}/CHANGELOG.md > ${ACL_CHANGELOG_GZ}
  DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md
  COMMENT "Changelog for the package")
add_custom_target(changelog ALL DEPENDS ${ACL_CHANGELOG_GZ})

# /usr/share/doc/acl-service: the guides in the source tree's layout
# (README.md beside docs/), so that their relative links work in both; the
# example client; the changelog and the machine-readable copyright file.
install(FILES README.md DESTINATION ${ACL_DOC_INSTALL_DIR})
install(DIRECTORY docs/ DESTINATION ${ACL_DOC_INSTALL_DIR}/docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
install(PROGRAMS examples/client.py
        DESTINATION ${ACL_DOC_INSTALL_DIR}/examples)
install(FILES ${ACL_CHANGELOG_GZ} cmake/copyright
        DESTINATION ${ACL_DOC_INSTALL_DIR})
install(FILES ${ACL_MAN_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
