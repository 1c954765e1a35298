// A rigid move of a frame (shift and rotation about the frame's centre) and
// the few operations the alignment needs on it.
#pragma once

#include <array>

// Maps a pixel (x, y) of a moved frame to the pixel of the reference frame that
// shows the same thing: R(angle) ((x, y) - c) + c + (dx, dy), c = ((W - 1) / 2,
// (H - 1) / 2), R(a) = [[cos a, -sin a], [sin a, cos a]] in pixel coordinates
// (x to the right, y down). The centre is the same for every frame of a set,
// so composing and inverting do not need it.
struct RigidMove {
    double dx = 0;
    double dy = 0;
    double angle = 0;  // radians

    double degrees() const;
};

RigidMove moveFromDegrees(double dx, double dy, double degrees);

// outer after inner: first `inner`, then `outer`.
RigidMove compose(const RigidMove& outer, const RigidMove& inner);
RigidMove inverse(const RigidMove& m);

// The move as an affine map of a W x H frame: x' = m[0] x + m[1] y + m[2],
// y' = m[3] x + m[4] y + m[5].
std::array<double, 6> affineOf(const RigidMove& m, int width, int height);

// Largest distance between where `a` and `b` put a corner of the frame.
double cornerDistance(const RigidMove& a, const RigidMove& b, int width, int height);
// Largest distance a corner of the frame travels.
double cornerShift(const RigidMove& m, int width, int height);
