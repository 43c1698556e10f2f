// The measuring side of the simulated controller: a synthetic distance signal
// per head, and what the controller does to it before showing it (offset,
// timing hold, zero), plus the figure statistics.
//
// Signal, in raw counts of 0.01 um, at sample number n:
//   head A: 123456 + 50000 * sin(2 pi n / 1000)       + noise
//   head B: -234567 + 40000 * sin(2 pi n / 1500 + 1)  + noise
// noise: -20..+20 counts, a hash of (seed, head, n), so every sample can be
// recomputed in any order. The whole signal stays within +-1000000 counts, so it
// is in range for every display unit of both unit systems.
//
// Shown value = (held ? held value : signal + offset) - zero reference.
// The sample clock moves on by one sample after each measured-value read; a zero
// set therefore takes exactly the value that the next read shows, which then
// reads 0.
#pragma once

#include <cstdint>

namespace trax::sim {

struct FigureRecord {
    int32_t values[7];    // max, min, peak-to-peak, average, standard deviation, latest, first
    int32_t integers[4];  // sample count, sample number of the max, of the min, hold state (1 held)
};

class MeasurementModel {
public:
    explicit MeasurementModel(uint64_t seed);

    static constexpr int32_t kCentre[2] = {123456, -234567};
    static constexpr int32_t kAmplitude[2] = {50000, 40000};
    static constexpr int32_t kNoise = 20;
    static constexpr int32_t kCountsPerOffsetUnit = 100;  // the offset setting counts in um

    // The physical distance seen by a head at sample n (no offset, hold or zero).
    int32_t Signal(int head, uint64_t n) const;
    // The value the controller shows now for a head, with the offset setting in um.
    int32_t Shown(int head, int32_t offsetUm) const;
    // The value it shows at sample n under the present offset, hold and zero.
    int32_t ShownAt(int head, uint64_t n, int32_t offsetUm) const;

    // A measured-value read: the shown values of both heads, then the clock
    // moves on and the values enter the figure statistics.
    void Read(const int32_t offsetUm[2], int32_t out[2]);

    void SetZero(int head, bool on, int32_t offsetUm);
    // On: the shown value freezes at its present value. Off: it follows the signal again.
    void SetHold(int head, bool on, int32_t offsetUm);
    // Releases the hold and restarts the head's figure statistics.
    void Reset(int head);
    void ClearFigures();
    // Statistics since the last clear; with no sample yet, those of the present value alone.
    FigureRecord Figures(int head, int32_t offsetUm) const;

    uint64_t Now() const { return now_; }
    bool Held(int head) const { return heads_[head].held; }

private:
    struct Stats {
        uint64_t count = 0;
        double sum = 0;
        double sumSquares = 0;
        int32_t max = 0, min = 0, first = 0, latest = 0;
        uint64_t maxAt = 0, minAt = 0;
        void Add(int32_t v);
    };
    struct Head {
        int32_t zeroReference = 0;
        bool held = false;
        int32_t heldValue = 0;
        Stats stats;
    };
    int32_t Unzeroed(int head, int32_t offsetUm) const;

    uint64_t seed_;
    uint64_t now_ = 0;
    Head heads_[2];
};

}  // namespace trax::sim
