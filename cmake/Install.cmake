# The developer's kit: `cmake --install` puts the header, libtrax.so with the
# stand-in driver beside it, traxctl, a CMake package (find_package(Trax) ->
# Trax::trax), trax.pc for pkg-config, and in share/doc/trax the examples and
# the simulated controller's manual.
include(CMakePackageConfigHelpers)

set(TRAX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Trax)

# libtrax.so finds the driver library in its own folder.
set_target_properties(trax QelUsbDrv PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS trax QelUsbDrv EXPORT TraxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/trax.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS traxctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The two example programs and the simulated controller's manual (its fault
# and state variables), for a developer who has only the kit.
set(TRAX_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/trax)
install(FILES ${PROJECT_SOURCE_DIR}/examples/read_values.c ${PROJECT_SOURCE_DIR}/examples/storage_to_csv.c
  DESTINATION ${TRAX_DOC_DIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/sim/README.md DESTINATION ${TRAX_DOC_DIR} RENAME simulator.md)

install(EXPORT TraxTargets NAMESPACE Trax:: FILE TraxTargets.cmake DESTINATION ${TRAX_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TraxConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/TraxConfig.cmake
  INSTALL_DESTINATION ${TRAX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/TraxConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/TraxConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/TraxConfigVersion.cmake
  DESTINATION ${TRAX_CMAKE_DIR})

# pkg-config paths relative to the prefix the file ends up in.
configure_file(${CMAKE_CURRENT_LIST_DIR}/trax.pc.in ${CMAKE_CURRENT_BINARY_DIR}/trax.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/trax.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
