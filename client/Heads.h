// The controller's two heads as people name them: "A" and "B", and "both"
// where a call acts on both at once. One reader for every face; each face
// words its own refusal.
#pragma once

#include <string>

namespace trax::client {

// 0, 1, 2: head A, head B, both heads (as the library numbers them).
constexpr int kBothHeads = 2;

// "A"/"a" -> 0, "B"/"b" -> 1 and, when allowBoth, "both" (any case of it
// written whole: "both", "Both", "BOTH") -> 2; -1 for any other word.
int HeadOf(const std::string& text, bool allowBoth);
// "A", "B", "both"; "?" for a number that names no head.
const char* HeadName(int head);

}  // namespace trax::client
