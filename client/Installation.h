// What is installed, as the faces report it: the library's version.
#pragma once

#include <string>

namespace trax::client {

// The library's version ("2.2.0") from its start-up report, else from its
// file's name; "" when it cannot be told. Loads the library when that has not
// happened yet.
std::string LibraryVersion();

}  // namespace trax::client
