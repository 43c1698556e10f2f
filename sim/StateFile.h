// The controller's lasting state in a text file, so that it outlives one
// simulated controller (one host program run), as a real controller keeps it
// across power cycles.
//
// Lasting: every setting item, the panel selection, and the data storage (the
// stored values of both heads, and whether a run is still storing, with the
// sample its values count from). Not lasting: the operating mode and the Able
// adjustment (a controller starts in measurement mode), zero and timing hold,
// the figure statistics and the sample clock.
//
// Format, one record a line; blank lines and lines starting with '#' are
// skipped, a trailing CR is ignored:
//   trax-sim-state 1                      first line
//   setting CATEGORY ITEM HEAD VALUE      HEAD A or B, '-' for controller-wide
//                                         items; VALUE as the host writes it
//                                         ("+000250", "90,10"), one-byte items
//                                         as a decimal number ("4")
//   panel 1|2|3                           head A, head B, both heads
//   storage stopped|storing RUN_START
//   stored A|B COUNT                      then COUNT values, any number a line
//   end                                   last line
// A setting not named keeps its default. Every setting value is checked as a
// host write is; a file with any fault is refused as a whole.
#pragma once

#include <cstdint>
#include <string>

#include "sim/SettingStore.h"
#include "sim/StorageModel.h"

namespace trax::sim {

struct LastingState {
    SettingStore settings;
    int panel = 3;
    StorageModel storage;
};

// The whole file text for `state`.
std::string FormatState(const SettingStore& settings, int panel, const StorageModel& storage);

// Reads file text into `state` (which should hold the defaults). False and a
// one-line reason ("line 7: ...") when the text is not a well-formed state;
// `state` is then partly filled and must be dropped.
bool ParseState(const std::string& text, LastingState* state, std::string* problem);

enum class LoadResult { Loaded, Missing, Refused };

// Missing: no file at `path` (nothing to load, not a fault). Refused: the file
// cannot be read or is not well-formed; `problem` says why.
LoadResult LoadStateFile(const std::string& path, LastingState* state, std::string* problem);

// Writes `path`.tmp and renames it over `path`, so the file is always either
// the old state or the new one. False and `problem` when it could not.
bool SaveStateFile(const std::string& path, const SettingStore& settings, int panel, const StorageModel& storage,
                   std::string* problem);

}  // namespace trax::sim
