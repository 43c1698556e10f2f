// The controller's data storage: up to 65536 shown values per head.
//
// Timing: the storage samples on the controller's own clock, which the model
// moves on at every exchange with the host (Advance). Each exchange while
// storing takes in up to `valuesPerExchange` further values per head; when both
// heads hold the configured count, storing ends by itself. Value i of a run is
// the shown value at sample (start + i * interval), interval from the storage
// cycle setting.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace trax::sim {

class StorageModel {
public:
    static constexpr uint32_t kCapacity = 65536;
    // Samples between stored values, by storage cycle code 0..9.
    static uint32_t Interval(int cycleCode);

    // Empties both heads and stops storing.
    void Init();
    // Starts (or resumes) storing; a resumed run continues where it stopped.
    void Start(uint64_t startSample);
    void Stop() { storing_ = false; }
    bool Storing() const { return storing_; }
    uint32_t Count(int head) const { return static_cast<uint32_t>(values_[head].size()); }
    const std::vector<int32_t>& Values(int head) const { return values_[head]; }
    // Sample number of the run's first value.
    uint64_t RunStart() const { return runStart_; }
    // Takes over a run kept from an earlier controller (at most kCapacity values per head).
    void Restore(bool storing, uint64_t runStart, std::vector<int32_t> headA, std::vector<int32_t> headB);

    using Sampler = std::function<int32_t(int head, uint64_t sample)>;
    // One exchange's worth of storing; true when it took in values or ended the run.
    bool Advance(uint32_t valuesPerExchange, uint32_t targetCount, int cycleCode, const Sampler& sample);

private:
    bool storing_ = false;
    uint64_t runStart_ = 0;
    std::vector<int32_t> values_[2];
};

}  // namespace trax::sim
