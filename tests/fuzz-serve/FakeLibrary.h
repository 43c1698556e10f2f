// The library as the serve fuzzers see it: every TRAX_* function answers
// FakeResult() and is counted, so that an oracle can tell whether a refused
// request reached the library.
#pragma once

#include <cstdint>

namespace trax::fuzz {

// 1 or 0, as the fuzz input chose.
void SetFakeResult(int result);
std::uint64_t FakeCalls();
int FakeCall();

}  // namespace trax::fuzz
