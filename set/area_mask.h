// Masks of picture areas and what cleans them: growing and shrinking by a
// disc, and telling apart the pieces that touch. For the areas where frames
// differ (set/motion.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One byte per sample of a rectangle, row-major: 1 on, 0 off.
struct AreaMask {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> on;

    AreaMask() = default;
    AreaMask(int32_t w, int32_t h) : width(w), height(h), on(static_cast<size_t>(w) * h, 0) {}
    uint8_t at(int x, int y) const { return on[static_cast<size_t>(y) * width + x]; }
};

// Grows the mask by the disc a^2 + b^2 <= r^2: a sample is on when an on
// sample lies within Euclidean distance r. r >= 0.
void dilateArea(AreaMask& mask, int r);
// Shrinks it by the same disc: a sample stays on when every sample within
// distance r is on. Beyond the rectangle counts as on, so an area that runs
// out of the rectangle is not eaten from that side.
void erodeArea(AreaMask& mask, int r);

// The pieces of the mask: samples on and touching (the 8 neighbours),
// numbered 1, 2, ... in the order their first sample comes row by row; 0 off.
struct AreaPieces {
    std::vector<uint32_t> label;
    std::vector<int64_t> size;  // samples of piece k at index k - 1
};
AreaPieces areaPieces(const AreaMask& mask);
