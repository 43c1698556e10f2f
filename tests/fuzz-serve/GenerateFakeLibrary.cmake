# Writes a fake of every function the public header declares: each returns
# what FakeResult() says (1 or 0, chosen by the fuzz input) and counts itself,
# writing nothing through its pointers (the server zeroes what it passes).
# Run with -DHEADER=<trax.h> -DOUTPUT=<file.cpp>.
cmake_policy(SET CMP0007 NEW)
file(READ "${HEADER}" header)
string(REGEX MATCHALL "TRAX_API int TRAX_CALL TRAX_[A-Za-z]+\\([^)]*\\)" declarations "${header}")
set(bodies "")
foreach(declaration IN LISTS declarations)
  string(REGEX REPLACE "TRAX_API int TRAX_CALL (TRAX_[A-Za-z]+)\\(([^)]*)\\)" "\\1" name "${declaration}")
  string(REGEX REPLACE "TRAX_API int TRAX_CALL (TRAX_[A-Za-z]+)\\(([^)]*)\\)" "\\2" parameters "${declaration}")
  # Unnamed parameters: nothing reads them.
  set(types "")
  if(NOT parameters STREQUAL "void")
    string(REPLACE "," ";" pieces "${parameters}")
    foreach(piece IN LISTS pieces)
      string(REGEX REPLACE "[A-Za-z_][A-Za-z0-9_]*[ ]*$" "" type "${piece}")
      string(STRIP "${type}" type)
      list(APPEND types "${type}")
    endforeach()
  endif()
  list(JOIN types ", " typeList)
  string(APPEND bodies "int TRAX_CALL ${name}(${typeList}) { return trax::fuzz::FakeCall(); }\n")
endforeach()
set(text "// Generated from include/trax.h by tests/fuzz-serve/GenerateFakeLibrary.cmake; do not edit.\n")
string(APPEND text "#include <trax.h>\n\n#include \"FakeLibrary.h\"\n\nextern \"C\" {\n\n${bodies}\n}  // extern \"C\"\n")
file(WRITE "${OUTPUT}.new" "${text}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
