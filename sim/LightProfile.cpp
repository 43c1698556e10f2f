#include "sim/LightProfile.h"

#include <cmath>

namespace trax::sim {

LightProfile MakeLightProfile(int head, int selector, int32_t distance, uint64_t seed, uint64_t sample) {
    static const int kHeights[4] = {120, 160, 200, 240};
    constexpr double kSigma = 5.0;
    LightProfile p{};

    double centre = 512.0 + distance / 1000.0;
    if (centre < 16.0) centre = 16.0;
    if (centre > 1007.0) centre = 1007.0;
    int height = kHeights[selector & 3];

    uint64_t state = seed ^ (static_cast<uint64_t>(head) << 60) ^ (sample * 0x9E3779B97F4A7C15ull);
    for (int i = 0; i < LightProfile::kPixels; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;  // LCG for the baseline
        int baseline = static_cast<int>((state >> 33) % 7);
        double d = (i - centre) / kSigma;
        int v = baseline + static_cast<int>(std::lround(height * std::exp(-0.5 * d * d)));
        p.samples[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
    }

    int peak = 0;
    for (int i = 1; i < LightProfile::kPixels; ++i) {
        if (p.samples[i] > p.samples[peak]) peak = i;
    }
    int half = p.samples[peak] / 2;
    uint32_t width = 0, lit = 0, quantity = 0;
    double weighted = 0, weight = 0;
    for (int i = 0; i < LightProfile::kPixels; ++i) {
        int s = p.samples[i];
        if (s >= half) {
            ++width;
            weighted += static_cast<double>(i) * s;
            weight += s;
        }
        if (s > LightProfile::kThreshold) {
            ++lit;
            quantity += static_cast<uint32_t>(s);
        }
    }
    p.extra = static_cast<uint16_t>(std::lround(weighted / weight * 16.0));
    p.litPixels = static_cast<uint16_t>(lit);
    p.light[0] = static_cast<uint16_t>(peak);
    p.light[1] = p.samples[peak];
    p.light[2] = static_cast<uint16_t>(width);
    p.light[3] = static_cast<uint16_t>(quantity > 65535 ? 65535 : quantity);
    return p;
}

}  // namespace trax::sim
