// The moving subject (see mover.h).
#include "mover.h"

#include "camera.h"
#include "parallel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace make_bracket {
namespace {

// Mid-grey with a warm tint, textured over about two stops (0.06 to 0.26 of
// the reference exposure's full scale): unclipped in the frames around the
// bracket's centre, clear of the noise in the darker ones, and unlike the
// sky, the ground or the wall behind it.
constexpr double kLevel = 0.12;
constexpr double kTint[3] = {1.0, 0.85, 0.7};

double subjectLevel(double u, double v) {
    // Checks of 12 photosites and a slow ripple, both in the subject's own
    // coordinates so that they move with it.
    const double check =
        ((static_cast<long long>(std::floor(u / 12)) + static_cast<long long>(std::floor(v / 12))) &
         1) != 0
            ? 0.5
            : -0.5;
    const double ripple =
        std::sin(2 * std::numbers::pi * u / 23) * std::sin(2 * std::numbers::pi * v / 17);
    return kLevel * std::exp2(0.6 * check + 0.5 * ripple);
}

// Length of [a, a + 1) inside [lo, hi).
double overlap(double a, double lo, double hi) {
    return std::clamp(std::min(a + 1, hi) - std::max(a, lo), 0.0, 1.0);
}

}  // namespace

void addMover(const Mover& m, int exposureIndex, int width, int height,
              std::vector<float>& electrons) {
    const double x0 = m.x + exposureIndex * m.dx, y0 = m.y + exposureIndex * m.dy;
    const double x1 = x0 + m.width, y1 = y0 + m.height;
    const int top = std::max(0, static_cast<int>(std::floor(y0)));
    const int bottom = std::min(height, static_cast<int>(std::ceil(y1)));
    const int left = std::max(0, static_cast<int>(std::floor(x0)));
    const int right = std::min(width, static_cast<int>(std::ceil(x1)));
    if (top >= bottom || left >= right) return;
    parallelRows(bottom - top, [&](int row) {
        const int y = top + row;
        const double cy = overlap(y, y0, y1);
        float* out = electrons.data() + static_cast<std::size_t>(y) * width;
        for (int x = left; x < right; ++x) {
            const double cover = cy * overlap(x, x0, x1);
            if (cover <= 0.0) continue;
            const int colour = CameraModel::cfaColour(x, y);
            const double subject = subjectLevel(x + 0.5 - x0, y + 0.5 - y0) * kTint[colour] *
                                   CameraModel::electronsPerUnit(colour);
            out[x] = static_cast<float>(out[x] + (subject - out[x]) * cover);
        }
    });
}

}  // namespace make_bracket
