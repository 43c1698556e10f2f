# Cross builds see the header-only libraries the tools use (nlohmann-json,
# Boost's Beast and Asio) through a folder of links to just those headers,
# never through all of the build machine's /usr/include. For nlohmann-json a
# package configuration in the build folder makes find_package() take that
# folder, as it takes the system's package natively.
set(TRAX_CROSS_INCLUDE ${CMAKE_BINARY_DIR}/third-party/include)
foreach(dir boost nlohmann)
  if(EXISTS /usr/include/${dir} AND NOT EXISTS ${TRAX_CROSS_INCLUDE}/${dir})
    file(MAKE_DIRECTORY ${TRAX_CROSS_INCLUDE})
    file(CREATE_LINK /usr/include/${dir} ${TRAX_CROSS_INCLUDE}/${dir} SYMBOLIC)
  endif()
endforeach()
if(EXISTS ${TRAX_CROSS_INCLUDE}/nlohmann/json.hpp)
  set(config ${CMAKE_BINARY_DIR}/third-party/nlohmann_json/nlohmann_jsonConfig.cmake)
  file(WRITE ${config}
    "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
    "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)\n"
    "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES\n"
    "    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES \"${TRAX_CROSS_INCLUDE}\"\n"
    "    INTERFACE_INCLUDE_DIRECTORIES \"${TRAX_CROSS_INCLUDE}\")\n"
    "endif()\n"
    "set(nlohmann_json_VERSION 3.11.2)\n")
  file(WRITE ${CMAKE_BINARY_DIR}/third-party/nlohmann_json/nlohmann_jsonConfigVersion.cmake
    "set(PACKAGE_VERSION 3.11.2)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n"
    "if(PACKAGE_FIND_VERSION_MAJOR STREQUAL \"3\")\n  set(PACKAGE_VERSION_COMPATIBLE TRUE)\nelse()\n"
    "  set(PACKAGE_VERSION_COMPATIBLE FALSE)\nendif()\n")
  set(nlohmann_json_DIR ${CMAKE_BINARY_DIR}/third-party/nlohmann_json CACHE PATH
      "nlohmann-json's package configuration for the cross build" FORCE)
endif()
