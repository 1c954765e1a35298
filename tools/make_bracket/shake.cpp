// Moved frames for handheld brackets (see shake.h).
#include "shake.h"

#include "camera.h"
#include "parallel.h"
#include "random.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>

namespace make_bracket {

std::vector<FrameMove> drawMoves(int count, double maxShift, double maxDegrees, std::uint64_t seed) {
    Rng rng(mixSeed(seed, 0x5348414b45ULL));  // its own stream: noise and layout stay as they were
    std::vector<FrameMove> moves(static_cast<std::size_t>(count));
    for (int i = 1; i < count; ++i) {
        // Uniform over the disc of radius maxShift, and over the turn range.
        const double direction = 2.0 * std::numbers::pi * rng.uniform();
        const double length = maxShift * std::sqrt(rng.uniform());
        moves[static_cast<std::size_t>(i)] = {length * std::cos(direction),
                                              length * std::sin(direction),
                                              maxDegrees * (2.0 * rng.uniform() - 1.0)};
    }
    return moves;
}

std::vector<float> movedElectrons(const Scene& scene, int width, int height, const FrameMove& move) {
    std::vector<float> out(static_cast<std::size_t>(width) * height);
    const double a = move.degrees * std::numbers::pi / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    parallelRows(height, [&](int y) {
        float* row = out.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            // The photosite's top-left corner moves with its centre.
            const double sx = c * (x - cx) - s * (y - cy) + cx + move.dx;
            const double sy = s * (x - cx) + c * (y - cy) + cy + move.dy;
            const Rgb rgb = scene.atPoint(sx, sy);
            const int colour = CameraModel::cfaColour(x, y);
            const double value = colour == 0 ? rgb.r : colour == 1 ? rgb.g : rgb.b;
            row[x] = static_cast<float>(std::max(0.0, value) * CameraModel::electronsPerUnit(colour));
        }
    });
    return out;
}

void writeShakeFile(const std::filesystem::path& path, const std::vector<std::string>& names,
                    const std::vector<FrameMove>& moves) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + path.string());
    for (std::size_t i = 0; i < names.size(); ++i)
        std::fprintf(f, "%s %.6f %.6f %.6f\n", names[i].c_str(), moves[i].dx, moves[i].dy,
                     moves[i].degrees);
    if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace make_bracket
