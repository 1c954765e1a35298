// Brackets with a moving subject (see moving_sets.h).
#include "tests/common/moving_sets.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// Texture about +-40 %, smooth over a few pixels, the same in every frame.
double texture(double x, double y) {
    return std::exp2(0.35 * std::sin(x * 0.41 + std::cos(y * 0.23)) * std::cos(y * 0.37));
}

}  // namespace

std::vector<GflBitmap> movingFrames(const MovingScene& s) {
    std::vector<GflBitmap> frames;
    const double colour[3] = {1.0, 0.8, 0.55};
    for (int k = 0; k < s.count; ++k) {
        std::mt19937 rng(s.seed * 1000 + static_cast<uint32_t>(k));
        std::normal_distribution<double> unit(0.0, 1.0);
        const double gain = std::pow(s.gap, k);
        const int bx = s.x + k * s.dx, by = s.y + k * s.dy;
        GflBitmap b;
        b.width = s.width;
        b.height = s.height;
        b.pixels.resize(b.sampleCount());
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) {
                double level = (x < s.width / 2 ? s.left : s.right) * texture(x, y);
                // The subject's texture moves with it: checks of 4 pixels.
                if (s.w > 0 && x >= bx && x < bx + s.w && y >= by && y < by + s.h)
                    level = s.subject * (((x - bx) / 4 + (y - by) / 4) % 2 ? 1.5 : 0.6);
                for (int c = 0; c < 3; ++c) {
                    const double signal = level * colour[c] * gain;
                    double v = signal;
                    if (s.noise) v += unit(rng) * std::sqrt(3 * signal + 100);
                    if (signal >= 62000) v = 65535;
                    b.row(y)[x * 3 + c] =
                        static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
                }
            }
        frames.push_back(std::move(b));
    }
    return frames;
}
