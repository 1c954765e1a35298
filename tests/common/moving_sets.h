// Brackets with a subject that moves between frames, made in memory: a
// textured scene of a bright and a dark half (a hard edge between them), and
// a textured box shifting by a fixed step per frame. Noise as a sensor has
// it (variance 3 s + 100 in developed units), clipped at 62000 (reads 65535).
#pragma once

#include "support/gfl_bitmap.h"

#include <cstdint>
#include <vector>

struct MovingScene {
    int width = 160, height = 120;
    int count = 5;
    double gap = 4;  // each frame this much brighter than the one before
    // The subject in frame 1 and its step per frame; no subject when w is 0.
    int x = 0, y = 0, w = 0, h = 0, dx = 0, dy = 0;
    double subject = 300;  // its mean level in frame 1
    // The halves' levels in frame 1, left and right of the middle column.
    double left = 2000, right = 60;
    bool noise = true;
    uint32_t seed = 1;
};

// Frames darkest first.
std::vector<GflBitmap> movingFrames(const MovingScene& scene);
