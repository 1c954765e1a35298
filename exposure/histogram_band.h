// One pair's band of the exposure histogram picture.
#pragma once

#include "support/objeto_imagen.h"

#include <cstdint>
#include <vector>

constexpr int kHistogramWidth = 1024;  // 8 bins per column, 125 columns per EV
constexpr int kBandHeight = 128;

// Draws the band of the pair (k - 1, k), k >= 2, into rows 128 (k - 2) to
// 128 (k - 2) + 127: bars of the 8-bin columns scaled to the tallest, dotted
// grey lines at every whole EV, the EV labels and the red median line with
// its value. `medianBin` is the pair's median bin (0..8191).
void drawHistogramBand(ObjetoImagen& picture, const std::vector<uint64_t>& bins, int k,
                       int medianBin);
