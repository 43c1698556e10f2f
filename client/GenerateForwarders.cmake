# Writes the forwarders of every function the public header declares: each
# TRAX_* name defined in the program, calling the same function of the library
# that LibraryLoader.cpp loaded at run time (0 when it did not load).
# Run with -DHEADER=<trax.h> -DOUTPUT=<file.cpp>.
cmake_policy(SET CMP0007 NEW)
file(READ "${HEADER}" header)
# Without the closing ';', which would split CMake's lists.
string(REGEX MATCHALL "TRAX_API int TRAX_CALL TRAX_[A-Za-z]+\\([^)]*\\)" declarations "${header}")
list(LENGTH declarations count)
if(NOT count EQUAL 69)
  message(FATAL_ERROR "${HEADER} declares ${count} functions, not 69")
endif()

set(names "")
set(bodies "")
set(index 0)
foreach(declaration IN LISTS declarations)
  string(REGEX REPLACE "TRAX_API int TRAX_CALL (TRAX_[A-Za-z]+)\\(([^)]*)\\)" "\\1" name "${declaration}")
  string(REGEX REPLACE "TRAX_API int TRAX_CALL (TRAX_[A-Za-z]+)\\(([^)]*)\\)" "\\2" parameters "${declaration}")
  # The argument names: the last word of each parameter ("FloatValue* valueA" -> valueA).
  set(arguments "")
  if(NOT parameters STREQUAL "void")
    string(REPLACE "," ";" pieces "${parameters}")
    foreach(piece IN LISTS pieces)
      string(REGEX MATCH "[A-Za-z_][A-Za-z0-9_]*[ ]*$" argument "${piece}")
      string(STRIP "${argument}" argument)
      list(APPEND arguments "${argument}")
    endforeach()
  endif()
  list(JOIN arguments ", " argumentList)
  string(APPEND names "    \"${name}\",\n")
  string(APPEND bodies
    "int TRAX_CALL ${name}(${parameters}) {\n"
    "    using Function = int(TRAX_CALL*)(${parameters});\n"
    "    const auto function = reinterpret_cast<Function>(trax::client::detail::Slot(${index}));\n"
    "    return function != nullptr ? function(${argumentList}) : 0;\n"
    "}\n\n")
  math(EXPR index "${index} + 1")
endforeach()

set(text "// Generated from include/trax.h by client/GenerateForwarders.cmake; do not edit.\n")
string(APPEND text "#include <trax.h>\n\n#include \"client/LibraryLoader.h\"\n\n")
string(APPEND text "namespace trax::client::detail {\nconst char* const kFunctionNames[] = {\n${names}};\n")
string(APPEND text "const int kFunctionCount = ${count};\n}  // namespace trax::client::detail\n\n")
string(APPEND text "extern \"C\" {\n\n${bodies}}  // extern \"C\"\n")
file(WRITE "${OUTPUT}.new" "${text}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
