// Handheld brackets made in memory: a scene with texture at several scales and
// edges in every direction, shot at exposures a fixed step apart, every frame
// but the first moved by a known rigid move.
#pragma once

#include "align/rigid_move.h"
#include "support/gfl_bitmap.h"

#include <cstdint>
#include <vector>

// One frame: the scene as seen by a frame moved by `move` (in the alignment's
// convention: pixel (x, y) shows the scene at move(x, y)), at `gain` times the
// base exposure, with about 1 % noise; saturates at 62000 (reads 65535).
GflBitmap texturedFrame(int width, int height, double gain, const RigidMove& move,
                        uint32_t noiseSeed);

struct ShakenSet {
    std::vector<GflBitmap> frames;  // darkest first
    std::vector<RigidMove> moves;   // moves[0] is the identity
};

// `count` frames `stepEv` apart; frames 2.. move by shifts up to `maxShift`
// pixels and turns up to `maxDegrees`, drawn from `seed`.
ShakenSet shakenBracket(int width, int height, int count, double stepEv, double maxShift,
                        double maxDegrees, uint32_t seed);
