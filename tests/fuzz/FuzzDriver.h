// The fuzz target's driver: each exchange is answered from the fuzz input (see
// FuzzInput.h). For making seeds it can instead answer from the simulated
// controller and write each answer down in the input's own encoding.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/fuzz/FuzzInput.h"

namespace trax::fuzz {

// Answers come from `input` until the next call of AnswerFrom or Record.
void AnswerFrom(FuzzInput* input);
// Answers come from a fresh simulated controller; every answer is appended
// to `answers`, encoded as a raw answer.
void Record(std::vector<uint8_t>* answers);

}  // namespace trax::fuzz
