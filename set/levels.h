// Sample levels every stage judges frames by: what is too dark to measure and
// what is too close to clipping.
#pragma once

// A channel value is usable from 1025 to 58981: below is noise, above is near
// clipping (58982 is 90 % of 65535). A neighbour with any channel at 58982 or
// more counts as clipped.
constexpr int kUsableMin = 1025;
constexpr int kUsableMax = 58981;
constexpr int kClipLevel = 58982;

inline bool usableChannel(int v) {
    return static_cast<unsigned>(v - kUsableMin) <= static_cast<unsigned>(kUsableMax - kUsableMin);
}

#include <array>
#include <cstddef>

// Where a pair scan takes a channel for unclipped: usable up to usableMax[c],
// and a pixel counted as clipped once any channel reaches clipLevel[c]. By
// default the levels above; frames developed with headroom clip each channel
// elsewhere, and take the levels of where they do (see levelsOfClips).
struct ChannelLimits {
    std::array<int, 3> usableMax{kUsableMax, kUsableMax, kUsableMax};
    std::array<int, 3> clipLevel{kClipLevel, kClipLevel, kClipLevel};

    bool usable(int v, size_t c) const {
        return static_cast<unsigned>(v - kUsableMin) <=
               static_cast<unsigned>(usableMax[c] - kUsableMin);
    }
};

// The limits of channels that clip at `clip`: 90 % of each level, as the
// defaults are of full scale (rounded halves to even, at least kUsableMin).
ChannelLimits levelsOfClips(const std::array<int, 3>& clip);
