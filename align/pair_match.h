// How one frame moved against another of a neighbouring exposure: a coarse
// search and Gauss-Newton steps on a pyramid, then full-resolution steps on
// tiles spread over the frame.
#pragma once

#include "align/luminance.h"
#include "align/rigid_move.h"
#include "support/gfl_bitmap.h"

#include <vector>

// One frame prepared for matching: the frame itself (for its full-resolution
// tiles) and its pyramid, coarsest level last.
struct MatchFrame {
    const GflBitmap* image = nullptr;
    std::vector<LumImage> pyramid;
};

// Pyramid shape for a frame size: base scale and number of levels; 0 levels
// when the frame is too small to be matched.
struct PyramidShape {
    int baseScale = 1;
    int levels = 0;
};
PyramidShape pyramidShape(int width, int height);

MatchFrame prepareFrame(const GflBitmap& image);

struct PairMatch {
    bool ok = false;
    RigidMove move;          // frame at (x, y) shows what the reference shows at move(x, y)
    int samples = 0;         // full-resolution samples of the last step
    double correlation = 0;  // of the two log luminances over them, after the match
};

// Matches `frame` against `reference` (same size). Not ok when they share too
// few usable samples, when the steps do not settle, or when the match explains
// too little of the two frames' texture (a flat or unrelated frame).
PairMatch matchPair(const MatchFrame& reference, const MatchFrame& frame);

// Thresholds of matchPair: the least correlation and number of samples of a
// match, and the corner shift of a last step that counts as settled (or, for
// a last step of the most allowed, as not settling).
constexpr double kMinCorrelation = 0.5;
constexpr int kMinSamples = 400;
constexpr double kSettledShift = 0.001;
constexpr double kUnsettledShift = 0.01;
