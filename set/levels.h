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
