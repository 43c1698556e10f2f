# Run by CPack after the packages are built (CPACK_POST_BUILD_SCRIPTS): takes
# the postinst and postrm that CPack writes to call ldconfig out of libtrax2.
# Its ldconfig trigger does that work, and without a postrm, apt-get remove
# leaves no "rc" state behind.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  if(NOT name MATCHES "^libtrax2_.*\\.deb$")
    continue()
  endif()
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${tree}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-deb -R ${package} failed")
  endif()
  file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${tree}" "${package}" OUTPUT_QUIET RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-deb -b ${tree} failed")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
