# Debian packages from the install rules (cmake/Install.cmake), one per
# component:
#   libtrax2      the library                       runtime
#   libtrax-dev   header, CMake and pkg-config files, examples   dev
#   trax-tools    traxctl, traxctl-sim and the stand-in driver   tools
#   python3-trax  the Python package                python
# scripts/test-packages.sh configures a build for them (prefix /usr, no run
# paths, the stand-in driver in a private folder) and checks what comes out.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trax)
set(CPACK_PACKAGE_VENDOR "Trax developers")
set(CPACK_PACKAGE_CONTACT "Trax developers <trax-dev@example.com>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools python)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.com/trax")

# The C++ run-time and libc from the binaries themselves; the library's own
# driver is not a Debian package, so it is looked up in the build tree and
# left out of the dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/sim)
set(TRAX_DEB_EXACT "(= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtrax2)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The shlibs file lets packages built against libtrax2 depend on it; only
# libtrax.so.2 has a version, so only libtrax2 gets one.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# ldconfig runs by trigger alone. CPack also writes postinst/postrm scripts
# that call it (lintian: maintscript-calls-ldconfig), and a postrm keeps the
# package in "rc" state after apt-get remove; they are taken out of the
# package once it is built (debian/DropLdconfigScripts.cmake).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/libtrax2/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/DropLdconfigScripts.cmake)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS trax-tools)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "host library of the two-head laser displacement-sensor controller
libtrax.so.2 drives the controller over its USB driver (libQelUsbDrv.so),
which the controller's driver installation provides: the library does not
load without it. trax-tools has a stand-in driver with a simulated
controller for trying it without one.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtrax-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libtrax2 ${TRAX_DEB_EXACT}")
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "development files of the displacement-sensor controller library
The header trax.h (the reference manual of the 69 TRAX_* functions), the
link to libtrax.so.2, find_package(Trax) and pkg-config files, and two
example programs.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME trax-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libtrax2 ${TRAX_DEB_EXACT}")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "command-line client and simulated displacement-sensor controller
traxctl reads values, storage and light profiles and writes settings of the
controller. traxctl-sim runs it with a stand-in USB driver that simulates a
controller; the stand-in lives in a folder of its own, so it never takes
the place of a real driver.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-trax)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, python3-numpy, libtrax2 (>= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
    "Python interface to the displacement-sensor controller library
The trax package: every function of libtrax.so.2 as a method of
trax.Controller, stored values and light profiles as NumPy arrays, setting
names of traxctl.")

# Each package's copyright and changelog, in the form Debian asks for.
set(TRAX_DEB_DOC ${PROJECT_BINARY_DIR}/debian-doc)
foreach(component runtime dev tools python)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  file(MAKE_DIRECTORY ${TRAX_DEB_DOC}/${package})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${TRAX_DEB_DOC}/${package}/changelog.Debian @ONLY)
  # -n: no name or time stamp in the gzip header, so the package is reproducible.
  execute_process(COMMAND gzip -9nf ${TRAX_DEB_DOC}/${package}/changelog.Debian)
  # Debian's alone: a package installs them (one component at a time), a
  # plain `cmake --install` into a prefix leaves them out.
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${TRAX_DEB_DOC}/${package}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

# One manual page for traxctl and, where there is one, traxctl-sim.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/traxctl.1 ${TRAX_DEB_DOC}/traxctl.1 @ONLY)
execute_process(COMMAND gzip -9nf ${TRAX_DEB_DOC}/traxctl.1)
install(FILES ${TRAX_DEB_DOC}/traxctl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools EXCLUDE_FROM_ALL)
if(TRAX_SIMULATOR_APART)
  install(FILES ${TRAX_DEB_DOC}/traxctl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 RENAME traxctl-sim.1.gz
    COMPONENT tools EXCLUDE_FROM_ALL)
endif()

include(CPack)
