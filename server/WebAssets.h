// The page and its scripts, compiled into the program from web/ so that
// traxctl serves them with no files beside it and nothing is read from disk.
#pragma once

#include <cstddef>
#include <string>

namespace traxserve {

struct Asset {
    const char* path;  // "/", "/app.js", ...
    const char* contentType;
    const unsigned char* data;
    std::size_t size;
};

// Null when no asset has that path.
const Asset* FindAsset(const std::string& path);

}  // namespace traxserve
