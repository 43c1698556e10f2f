#include "client/Heads.h"

namespace trax::client {

int HeadOf(const std::string& text, bool allowBoth) {
    if (text == "A" || text == "a") return 0;
    if (text == "B" || text == "b") return 1;
    if (allowBoth && (text == "both" || text == "Both" || text == "BOTH")) return kBothHeads;
    return -1;
}

const char* HeadName(int head) {
    switch (head) {
    case 0:
        return "A";
    case 1:
        return "B";
    case kBothHeads:
        return "both";
    default:
        return "?";
    }
}

}  // namespace trax::client
