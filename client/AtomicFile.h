// Files written whole or not at all: the text goes to a temporary file beside
// the target, which then replaces it, so a full disk or a crash never leaves
// half a file. A target that exists and is not a regular file (/dev/stdout, a
// pipe) is written directly, since nothing can be renamed over it.
#pragma once

#include <cstddef>
#include <string>

namespace trax::client {

// "" on success, else the reason in the system's words, naming the path:
// "cannot write 'out.json': No space left on device".
std::string WriteFileAtomically(const std::string& path, const std::string& text);

// Whether path can be written, asked before anything is sent so that a bad
// path costs no traffic: "" or the reason, as WriteFileAtomically words it.
std::string CheckWritable(const std::string& path);

// Whole file as text; "" in *error when read, else the reason naming the path.
// Reading stops after `maxBytes` (the caller sees more than it allows).
std::string ReadWholeFile(const std::string& path, std::string* error, size_t maxBytes = static_cast<size_t>(-1));

}  // namespace trax::client
