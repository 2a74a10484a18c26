# Where an installed suite keeps its parts, set before any target is made so
# every program and library takes the run path from here.
include(GNUInstallDirs)

# Plug-ins and the resource library are loaded by name, not linked: they get a
# folder of their own instead of the linker's path.
set(HARROW_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/harrow)

# Installed programs find the libraries relative to themselves, so the tree
# works under any prefix.
file(RELATIVE_PATH HARROW_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set(CMAKE_INSTALL_RPATH "$ORIGIN/${HARROW_BIN_TO_LIB}")

# A library loaded as "NAME.DLL": installed into the plug-in folder, finding
# the suite's libraries one folder up.
function(harrow_install_plugin target)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/..")
  install(TARGETS ${target} LIBRARY DESTINATION ${HARROW_PLUGIN_DIR})
endfunction()
