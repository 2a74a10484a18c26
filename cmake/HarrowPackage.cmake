# What `cmake --install` puts under the prefix, and the Debian package of it.

# LoadLibraryA runs in the platform library, so its run path is the one that
# finds the plug-ins.
set_target_properties(HarrowPlatform PROPERTIES INSTALL_RPATH "$ORIGIN;$ORIGIN/harrow")
set_target_properties(OrbCore PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS OrbCore HarrowPlatform LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS HarrowCLI RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS WinRestart RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET OrbInst)
  # The installer takes its package from its own folder.
  install(TARGETS OrbInst RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
harrow_install_plugin(resdll)
harrow_install_plugin(wnaspi32)

# Manual pages, compressed as Debian keeps them.
set(HARROW_MAN_PAGES HarrowCLI Harrow OrbInst WinRestart)
set(HARROW_MAN_OUT ${CMAKE_BINARY_DIR}/man)
set(HARROW_MAN_FILES "")
foreach(page ${HARROW_MAN_PAGES})
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1)
  add_custom_command(OUTPUT ${HARROW_MAN_OUT}/${page}.1.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${HARROW_MAN_OUT}/${page}.1
                     COMMAND gzip -9nf ${HARROW_MAN_OUT}/${page}.1
                     DEPENDS ${source} VERBATIM)
  list(APPEND HARROW_MAN_FILES ${HARROW_MAN_OUT}/${page}.1.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${HARROW_MAN_FILES})
install(FILES ${HARROW_MAN_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES README.md docs/machine-file.md docs/registry.md docs/example-machine.json docs/oem-plugin.md
              docs/json.md docs/harrow-cli.schema.json
              docs/harrow-drive-tests.png
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/harrow)
install(DIRECTORY docs/firmware DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/harrow)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME harrow)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Harrow maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "diagnostic suite for SCSI disk drives")
set(CPACK_PACKAGE_DESCRIPTION
    "Lists adapters and drives, reports a drive's identity, firmware, capacity and mode pages, runs the drive's own self test or host-driven read, seek and verify tests, and writes return forms. Runs on a built-in simulated machine unless HARROW_MACHINE names real devices.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# Library dependencies come from dpkg-shlibdeps; the suite's own libraries
# are found in the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
