// The light-intensity profile a head's line sensor sees: 1024 pixels with one
// reflection peak on a dark baseline.
//
// The peak sits at pixel 512 + distance / 1000 (one pixel per 10 um), clamped
// to the sensor, so it follows the measured distance. Its height depends on the
// selector (120, 160, 200, 240 for 0..3); baseline noise 0..6 is a hash of
// (seed, head, sample, pixel). The figures are computed from the samples:
//   extra    : centroid of the peak in 1/16 pixel
//   figure 4 : pixels above the baseline threshold (not handed to the host)
//   light 0  : pixel of the maximum
//   light 1  : height of the maximum
//   light 2  : width at half maximum, in pixels
//   light 3  : light quantity, sum of samples above the threshold (at most 65535)
#pragma once

#include <cstdint>

namespace trax::sim {

struct LightProfile {
    static constexpr int kPixels = 1024;
    static constexpr int kThreshold = 8;
    uint16_t extra;
    uint16_t litPixels;
    uint16_t light[4];
    uint8_t samples[kPixels];
};

LightProfile MakeLightProfile(int head, int selector, int32_t distance, uint64_t seed, uint64_t sample);

}  // namespace trax::sim
