// JSON text from outside parsed with its nesting limited while it is read:
// the parser never builds (and nothing ever walks) a tree deeper than the
// limit, and a refusal says where, in plain words.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace trax::client {

// Deeper than any document of ours: a settings file is four levels deep, a
// request body three.
constexpr int kMaxJsonDepth = 32;

// Parses `text` whole. Throws InputError (client/Number.h): "line 3, column 7:
// the text ends before the JSON is complete", "line 1, column 12: 1e999 is
// beyond the range of any number", "heads.A.offset: nested deeper than 32
// levels". Nothing of the text but a short, escaped piece is ever echoed.
nlohmann::json ParseJson(std::string_view text, int maxDepth = kMaxJsonDepth);
nlohmann::ordered_json ParseOrderedJson(std::string_view text, int maxDepth = kMaxJsonDepth);

}  // namespace trax::client
