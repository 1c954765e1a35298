// Textured handheld brackets for the alignment tests (see shaken_sets.h).
#include "tests/common/shaken_sets.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// Smooth lattice noise in -1..1 at one wavelength: random values on a grid,
// joined with a quintic (no creases, so gradients are continuous).
double latticeNoise(double x, double y, double wavelength, uint32_t salt) {
    auto hash = [salt](int64_t i, int64_t j) {
        uint64_t h = static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ULL ^
                     static_cast<uint64_t>(j) * 0xC2B2AE3D27D4EB4FULL ^ salt;
        h ^= h >> 31;
        h *= 0xBF58476D1CE4E5B9ULL;
        h ^= h >> 29;
        return static_cast<double>(h >> 11) / 9007199254740992.0 * 2 - 1;
    };
    const double u = x / wavelength, v = y / wavelength;
    const double fu = std::floor(u), fv = std::floor(v);
    const auto i = static_cast<int64_t>(fu), j = static_cast<int64_t>(fv);
    auto ease = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    const double tu = ease(u - fu), tv = ease(v - fv);
    const double top = hash(i, j) + (hash(i + 1, j) - hash(i, j)) * tu;
    const double bottom = hash(i, j + 1) + (hash(i + 1, j + 1) - hash(i, j + 1)) * tu;
    return top + (bottom - top) * tv;
}

// Scene radiance at a point of image 1, relative to the base exposure: eight
// stops from left to right, textured at wavelengths of 4 to 64 pixels, with
// discs (edges in every direction) and a lamp that clips every frame.
double radiance(double x, double y, int width, int height) {
    double stops = 8.0 * x / width + 1.5 * y / height;
    for (const double wavelength : {4.0, 8.0, 16.0, 32.0, 64.0})
        stops += 0.22 * latticeNoise(x, y, wavelength, static_cast<uint32_t>(wavelength));
    const double r = std::min(width, height) / 12.0;
    const double discs[][3] = {{0.2, 0.3, 1.0}, {0.5, 0.7, -1.2}, {0.8, 0.35, 0.9}, {0.35, 0.75, 0.7}};
    for (const auto& d : discs) {
        const double dist = std::hypot(x - d[0] * width, y - d[1] * height);
        stops += d[2] * std::clamp(r - dist + 0.5, 0.0, 1.0);
    }
    const double lamp = std::hypot(x - 0.65 * width, y - 0.55 * height);
    if (lamp < r / 3) stops += 12;
    return 16 * std::exp2(stops);
}

}  // namespace

GflBitmap texturedFrame(int width, int height, double gain, const RigidMove& move,
                        uint32_t noiseSeed) {
    std::mt19937 rng(noiseSeed);
    std::normal_distribution<double> unit(0.0, 1.0);
    const auto a = affineOf(move, width, height);
    const double colour[3] = {1.0, 0.8, 0.55};
    GflBitmap b;
    b.width = width;
    b.height = height;
    b.pixels.resize(b.sampleCount());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double sx = a[0] * x + a[1] * y + a[2], sy = a[3] * x + a[4] * y + a[5];
            const double base = radiance(sx, sy, width, height) * gain;
            for (int c = 0; c < 3; ++c) {
                const double signal = base * colour[c];
                double value = signal + unit(rng) * (0.01 * signal + 20);
                if (signal >= 62000) value = 65535;
                b.row(y)[x * 3 + c] = static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
            }
        }
    return b;
}

ShakenSet shakenBracket(int width, int height, int count, double stepEv, double maxShift,
                        double maxDegrees, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    ShakenSet set;
    for (int k = 0; k < count; ++k) {
        RigidMove move;
        if (k > 0) move = moveFromDegrees(maxShift * unit(rng), maxShift * unit(rng), maxDegrees * unit(rng));
        set.moves.push_back(move);
        set.frames.push_back(texturedFrame(width, height, std::exp2(stepEv * k), move,
                                           seed * 131u + static_cast<uint32_t>(k)));
    }
    return set;
}
