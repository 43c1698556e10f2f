#include "sim/MeasurementModel.h"

#include <cmath>

namespace trax::sim {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPeriod[2] = {1000.0, 1500.0};
constexpr double kPhase[2] = {0.0, 1.0};

uint64_t Mix(uint64_t x) {
    // splitmix64 finaliser: a well-spread hash of the sample address
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

int32_t Saturate(int64_t v) {
    if (v > 0x7FFFFFFE) return 0x7FFFFFFE;  // stay clear of the "no value" markers
    if (v < -0x7FFFFFFF) return -0x7FFFFFFF;
    return static_cast<int32_t>(v);
}

}  // namespace

MeasurementModel::MeasurementModel(uint64_t seed) : seed_(seed) {}

void MeasurementModel::Stats::Add(int32_t v) {
    if (count == 0) {
        first = max = min = v;
        maxAt = minAt = 0;
    }
    if (v > max) {
        max = v;
        maxAt = count;
    }
    if (v < min) {
        min = v;
        minAt = count;
    }
    latest = v;
    sum += v;
    sumSquares += static_cast<double>(v) * v;
    ++count;
}

int32_t MeasurementModel::Signal(int head, uint64_t n) const {
    double wave = std::sin(kTwoPi * static_cast<double>(n % 3000) / kPeriod[head] + kPhase[head]);
    uint64_t h = Mix(seed_ ^ Mix((static_cast<uint64_t>(head) << 56) ^ n));
    int32_t noise = static_cast<int32_t>(h % (2 * kNoise + 1)) - kNoise;
    return kCentre[head] + static_cast<int32_t>(std::lround(kAmplitude[head] * wave)) + noise;
}

int32_t MeasurementModel::Unzeroed(int head, int32_t offsetUm) const {
    if (heads_[head].held) return heads_[head].heldValue;
    return Saturate(static_cast<int64_t>(Signal(head, now_)) + static_cast<int64_t>(offsetUm) * kCountsPerOffsetUnit);
}

int32_t MeasurementModel::Shown(int head, int32_t offsetUm) const {
    return Saturate(static_cast<int64_t>(Unzeroed(head, offsetUm)) - heads_[head].zeroReference);
}

int32_t MeasurementModel::ShownAt(int head, uint64_t n, int32_t offsetUm) const {
    int64_t base = heads_[head].held
                       ? heads_[head].heldValue
                       : static_cast<int64_t>(Signal(head, n)) + static_cast<int64_t>(offsetUm) * kCountsPerOffsetUnit;
    return Saturate(base - heads_[head].zeroReference);
}

void MeasurementModel::Read(const int32_t offsetUm[2], int32_t out[2]) {
    for (int head = 0; head < 2; ++head) {
        out[head] = Shown(head, offsetUm[head]);
        heads_[head].stats.Add(out[head]);
    }
    ++now_;
}

void MeasurementModel::SetZero(int head, bool on, int32_t offsetUm) {
    heads_[head].zeroReference = on ? Unzeroed(head, offsetUm) : 0;
}

void MeasurementModel::SetHold(int head, bool on, int32_t offsetUm) {
    if (on && !heads_[head].held) heads_[head].heldValue = Unzeroed(head, offsetUm);
    heads_[head].held = on;
}

void MeasurementModel::Reset(int head) {
    heads_[head].held = false;
    heads_[head].stats = Stats();
}

void MeasurementModel::ClearFigures() {
    for (Head& h : heads_) h.stats = Stats();
}

FigureRecord MeasurementModel::Figures(int head, int32_t offsetUm) const {
    Stats s = heads_[head].stats;
    if (s.count == 0) s.Add(Shown(head, offsetUm));
    double mean = s.sum / static_cast<double>(s.count);
    double variance = s.sumSquares / static_cast<double>(s.count) - mean * mean;
    FigureRecord r{};
    r.values[0] = s.max;
    r.values[1] = s.min;
    r.values[2] = Saturate(static_cast<int64_t>(s.max) - s.min);
    r.values[3] = Saturate(std::llround(mean));
    r.values[4] = Saturate(std::llround(std::sqrt(variance > 0 ? variance : 0)));
    r.values[5] = s.latest;
    r.values[6] = s.first;
    r.integers[0] = static_cast<int32_t>(s.count > 0x7FFFFFFF ? 0x7FFFFFFF : s.count);
    r.integers[1] = static_cast<int32_t>(s.maxAt & 0x7FFFFFFF);
    r.integers[2] = static_cast<int32_t>(s.minAt & 0x7FFFFFFF);
    r.integers[3] = heads_[head].held ? 1 : 0;
    return r;
}

}  // namespace trax::sim
