#include "sim/StorageModel.h"

#include <utility>

namespace trax::sim {

uint32_t StorageModel::Interval(int cycleCode) {
    static const uint32_t kIntervals[10] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};
    return cycleCode >= 0 && cycleCode < 10 ? kIntervals[cycleCode] : 1;
}

void StorageModel::Init() {
    storing_ = false;
    values_[0].clear();
    values_[1].clear();
}

void StorageModel::Start(uint64_t startSample) {
    // A fresh run counts its samples from now; a resumed one keeps its origin
    // so that its values stay evenly spaced.
    if (values_[0].empty() && values_[1].empty()) runStart_ = startSample;
    storing_ = true;
}

void StorageModel::Restore(bool storing, uint64_t runStart, std::vector<int32_t> headA, std::vector<int32_t> headB) {
    storing_ = storing;
    runStart_ = runStart;
    values_[0] = std::move(headA);
    values_[1] = std::move(headB);
    for (std::vector<int32_t>& v : values_) {
        if (v.size() > kCapacity) v.resize(kCapacity);
    }
}

bool StorageModel::Advance(uint32_t valuesPerExchange, uint32_t targetCount, int cycleCode, const Sampler& sample) {
    if (!storing_) return false;
    if (targetCount > kCapacity) targetCount = kCapacity;
    uint64_t interval = Interval(cycleCode);
    bool full = true;
    bool took = false;
    for (int head = 0; head < 2; ++head) {
        std::vector<int32_t>& v = values_[head];
        if (v.size() < targetCount && valuesPerExchange > 0) took = true;
        for (uint32_t taken = 0; taken < valuesPerExchange && v.size() < targetCount; ++taken) {
            v.push_back(sample(head, runStart_ + v.size() * interval));
        }
        if (v.size() < targetCount) full = false;
    }
    if (full) storing_ = false;
    return took || full;
}

}  // namespace trax::sim
