# The export list of Trax.dll comes from the public header, the one place where
# the exported functions are declared: every "TRAX_API int TRAX_CALL TRAX_<Name>(" line
# is one export. Sorted by name (byte order, which for these names is also the
# case-blind alphabetical order), they take the ordinals 1, 2, 3, ...

set(TRAX_EXPORT_COUNT 69)

# Reads the exported names from `header` into `out_var`, in header order.
function(trax_read_exports header out_var)
  file(STRINGS "${header}" lines REGEX "^[ \t]*TRAX_API[ \t]+int[ \t]+TRAX_CALL[ \t]+TRAX_[A-Za-z0-9_]+[ \t]*\\(")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "TRAX_[A-Za-z0-9_]+[ \t]*\\(" name "${line}")
    string(REGEX REPLACE "[ \t]*\\($" "" name "${name}")
    list(APPEND names "${name}")
  endforeach()
  list(LENGTH names count)
  list(REMOVE_DUPLICATES names)
  list(LENGTH names unique)
  if(NOT count EQUAL unique)
    message(FATAL_ERROR "${header} declares an exported function twice")
  endif()
  set(${out_var} "${names}" PARENT_SCOPE)
endfunction()

# Reads the exported names with the __stdcall suffix of 32-bit Windows (the
# argument bytes, e.g. TRAX_GetCalcData@8) into `out_var`, in byte order of the
# names. Every argument is an int or a pointer: 4 bytes.
function(trax_read_decorated_exports header out_var)
  file(STRINGS "${header}" lines REGEX "^[ \t]*TRAX_API[ \t]+int[ \t]+TRAX_CALL[ \t]+TRAX_[A-Za-z0-9_]+[ \t]*\\(")
  set(decorated "")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "(TRAX_[A-Za-z0-9_]+)[ \t]*\\(([^)]*)\\)")
      message(FATAL_ERROR "${header}: the declaration of an exported function must fit on one line: ${line}")
    endif()
    set(name "${CMAKE_MATCH_1}")
    string(STRIP "${CMAKE_MATCH_2}" arguments)
    set(bytes 0)
    if(NOT arguments STREQUAL "void")
      string(REPLACE "," ";" arguments "${arguments}")
      foreach(argument IN LISTS arguments)
        if(NOT argument MATCHES "^[ \t]*(int[ \t]+[A-Za-z0-9_]+|[A-Za-z0-9_ \t]+\\*[ \t]*[A-Za-z0-9_]+)[ \t]*$")
          message(FATAL_ERROR "${header}: ${name} takes '${argument}', neither an int nor a pointer")
        endif()
        math(EXPR bytes "${bytes} + 4")
      endforeach()
    endif()
    list(APPEND decorated "${name}@${bytes}")
  endforeach()
  list(SORT decorated COMPARE STRING)
  set(${out_var} "${decorated}" PARENT_SCOPE)
endfunction()

# Writes the module-definition file of Trax.dll from the header. With
# DECORATED, the names carry their __stdcall suffix (for 32-bit Windows: the
# DLL is linked with --kill-at, so the exports themselves stay plain). The file
# is only rewritten when its content changes, so the DLL is not relinked for
# nothing.
function(trax_write_export_def header def_file)
  cmake_parse_arguments(PARSE_ARGV 2 arg "DECORATED" "" "")
  if(arg_DECORATED)
    trax_read_decorated_exports("${header}" names)
  else()
    trax_read_exports("${header}" names)
    list(SORT names COMPARE STRING)
  endif()
  list(LENGTH names count)
  if(NOT count EQUAL TRAX_EXPORT_COUNT)
    message(FATAL_ERROR "${header} declares ${count} exported functions; Trax.dll exports ${TRAX_EXPORT_COUNT}")
  endif()
  set(text "; Exports of Trax.dll, generated from include/trax.h: names in byte order,\n")
  string(APPEND text "; ordinals 1..${count} in that order. Do not edit.\n")
  if(arg_DECORATED)
    string(APPEND text "; 32-bit __stdcall: each name carries its argument bytes (\"@8\"); the DLL\n")
    string(APPEND text "; exports the plain names (tools take this file with --kill-at / -k).\n")
  endif()
  string(APPEND text "LIBRARY \"Trax.dll\"\nEXPORTS\n")
  set(ordinal 0)
  foreach(name IN LISTS names)
    math(EXPR ordinal "${ordinal} + 1")
    string(APPEND text "    ${name} @${ordinal}\n")
  endforeach()
  file(CONFIGURE OUTPUT "${def_file}" CONTENT "${text}" @ONLY)
  set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${header}")
endfunction()

# Writes a C++ header with the exported names in header order, for test
# programs that look every function up (they do their own sorting).
function(trax_write_export_names_header header out_file)
  trax_read_exports("${header}" names)
  set(text "// Generated from include/trax.h: the exported names in header order.\n")
  string(APPEND text "#pragma once\n\nstatic const char* const kTraxExportNames[] = {\n")
  foreach(name IN LISTS names)
    string(APPEND text "    \"${name}\",\n")
  endforeach()
  string(APPEND text "};\n")
  file(CONFIGURE OUTPUT "${out_file}" CONTENT "${text}" @ONLY)
endfunction()
