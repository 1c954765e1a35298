// A literal, pixel-by-pixel reading of the blend and its output stage, with
// no tables and no shortcuts, to check the program's blend against.
#pragma once

#include "blend/blend.h"
#include "pipeline/image_set.h"

#include <vector>

struct LiteralBlend {
    std::vector<double> contribution;  // index 1..n
    long progressive = 0;
    bool ettrApplied = false;
    int32_t brightest = 0;               // M of the ETTR scan (0 when off)
    std::vector<double> factors;         // q(1..n) at 0..n-1
    std::vector<double> planes[3];       // row-major per channel
    int width = 0, height = 0;

    // The file of bracket o: F * plane, halves to even, clipped at 65535.
    GflBitmap bracket(int o, int step, float g) const;
};

// levels: the map's red component per pixel, row-major. The set is read as
// it is in memory (image 1 already current).
LiteralBlend literalBlend(const ImageSet& set, const std::vector<uint8_t>& levels,
                          const std::vector<float>& tabla, const BlendSettings& settings);

// The set written to disk as 16-bit TIFFs beside `folder`/IMG_k.tiff, with
// their stamps, so that a reload finds the same pixels.
ImageSet diskSet(const QString& folder, std::vector<GflBitmap> images, double gap = 4.0);
