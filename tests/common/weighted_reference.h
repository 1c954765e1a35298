// A plain reading of the weighted merge, one pixel and one channel at a time,
// every image considered and no tables, to check WeightedBlender against.
#pragma once

#include "blend/weighted.h"

#include <vector>

struct LiteralWeighted {
    int width = 0, height = 0;
    std::vector<double> values;  // gamma-encoded R, G, B per pixel, row-major
    std::vector<double> shares;  // per image (index 0 = image 1)

    // The 16-bit samples of the output file brightened by `factor`: halves to
    // even, clipped at 65535.
    std::vector<uint16_t> samples(double factor) const;
};

LiteralWeighted literalWeighted(const BlendInput& input, const WeightedModel& model);
