// Rigid moves about the frame's centre: composition, inverse, affine form.
#include "align/rigid_move.h"

#include <algorithm>
#include <cmath>
#include <numbers>

double RigidMove::degrees() const { return angle * 180 / std::numbers::pi; }

RigidMove moveFromDegrees(double dx, double dy, double degrees) {
    return {dx, dy, degrees * std::numbers::pi / 180};
}

RigidMove compose(const RigidMove& outer, const RigidMove& inner) {
    // R1 (R2 (p - c) + d2) + c + d1 = R(a1 + a2) (p - c) + c + R1 d2 + d1
    const double c = std::cos(outer.angle), s = std::sin(outer.angle);
    return {c * inner.dx - s * inner.dy + outer.dx, s * inner.dx + c * inner.dy + outer.dy,
            outer.angle + inner.angle};
}

RigidMove inverse(const RigidMove& m) {
    // p = R(-a) (q - c - d) + c
    const double c = std::cos(m.angle), s = std::sin(m.angle);
    return {-(c * m.dx + s * m.dy), -(-s * m.dx + c * m.dy), -m.angle};
}

std::array<double, 6> affineOf(const RigidMove& m, int width, int height) {
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    const double c = std::cos(m.angle), s = std::sin(m.angle);
    return {c, -s, cx + m.dx - (c * cx - s * cy), s, c, cy + m.dy - (s * cx + c * cy)};
}

double cornerDistance(const RigidMove& a, const RigidMove& b, int width, int height) {
    const auto ma = affineOf(a, width, height), mb = affineOf(b, width, height);
    double worst = 0;
    for (const double x : {0.0, width - 1.0})
        for (const double y : {0.0, height - 1.0}) {
            const double ex = (ma[0] - mb[0]) * x + (ma[1] - mb[1]) * y + (ma[2] - mb[2]);
            const double ey = (ma[3] - mb[3]) * x + (ma[4] - mb[4]) * y + (ma[5] - mb[5]);
            worst = std::max(worst, std::hypot(ex, ey));
        }
    return worst;
}

double cornerShift(const RigidMove& m, int width, int height) {
    return cornerDistance(m, RigidMove(), width, height);
}
