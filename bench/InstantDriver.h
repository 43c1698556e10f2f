#pragma once

#include <cstdint>
#include <vector>

namespace trax::bench {

// Builds the replies the instant driver hands out: a measured-value reply and
// a storage reply holding `storedCount` values.
void PrepareReplies(uint32_t storedCount);

}  // namespace trax::bench
