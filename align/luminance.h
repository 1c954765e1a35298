// Log luminance of a frame as the alignment compares it: ln(R + G + B), so
// that two exposures of one scene differ by a constant, with a flag per sample
// for the values worth comparing (not clipped, above the noise).
#pragma once

#include "support/gfl_bitmap.h"

#include <cstdint>
#include <vector>

// Sums R + G + B below this are mostly noise (1025 a channel, as the exposure
// measurement uses); a channel at the clip level has saturated.
constexpr int kAlignMinSum = 3 * 1025;

// Samples on a regular grid of the full-resolution frame: sample (i, j) stands
// for the pixel position (originX + scale i, originY + scale j).
struct LumImage {
    int width = 0;
    int height = 0;
    int scale = 1;
    double originX = 0;
    double originY = 0;
    std::vector<float> value;     // smoothed log luminance
    std::vector<uint8_t> usable;  // 1 where every value the sample mixes was usable

    size_t index(int i, int j) const { return static_cast<size_t>(j) * width + i; }
};

// The full-resolution region [x0, x0 + w) x [y0, y0 + h), smoothed with a
// Gaussian of 1 pixel over the usable pixels. A sample is usable when neither
// it nor a neighbour was clipped or too dark, and it is not on the region's
// 2-pixel rim (the smoothing there lacks neighbours). The region must lie
// inside the image.
LumImage lumRegion(const GflBitmap& image, int x0, int y0, int w, int h);

// Levels of block means: level 0 averages blocks of baseScale x baseScale
// pixels (usable when their mean is above the noise and no channel clipped),
// each further level halves the resolution, down to `levels` levels. Each
// level is smoothed like a region.
std::vector<LumImage> lumPyramid(const GflBitmap& image, int baseScale, int levels);
