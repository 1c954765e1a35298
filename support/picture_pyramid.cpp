// Reduced levels of a screen picture and the views drawn from them.
#include "support/picture_pyramid.h"

#include "support/image_memory.h"
#include "support/parallel.h"

#include <algorithm>
#include <cmath>

namespace {

// Levels stop once the long side is this short: a view never shows a
// picture smaller than that but at the fitted size of a tiny window.
constexpr int kSmallestSide = 256;

// Each pixel the average of a 2 x 2 block of `from`, rounded; the last
// column and row average what they have.
Rgb8Plane halved(const Rgb8Plane& from) {
    Rgb8Plane to((from.width + 1) / 2, (from.height + 1) / 2);
    parallelRows(to.height, 32, [&](const RowBand& band) {
        for (int y = band.begin; y < band.end; ++y) {
            const uint8_t* a = from.row(2 * y);
            const uint8_t* b = 2 * y + 1 < from.height ? from.row(2 * y + 1) : a;
            const int rows = 2 * y + 1 < from.height ? 2 : 1;
            uint8_t* out = to.row(y);
            for (int x = 0; x < to.width; ++x) {
                const int x0 = 2 * x, x1 = std::min(2 * x + 1, from.width - 1);
                const int n = rows * (x1 > x0 ? 2 : 1);
                for (int c = 0; c < 3; ++c) {
                    int sum = a[x0 * 3 + c] + b[x0 * 3 + c];
                    if (x1 > x0) sum += a[x1 * 3 + c] + b[x1 * 3 + c];
                    if (rows == 1) sum /= 2;  // a counted twice
                    out[x * 3 + c] = static_cast<uint8_t>((sum + n / 2) / n);
                }
            }
        }
    });
    return to;
}

// A sample position along one axis of a level: the two pixels to mix and the
// weight of the second, or first < 0 outside the picture.
struct Tap {
    int first = -1;
    int second = -1;
    float weight = 0;
};

// Device pixel i shows picture point (i + 0.5 - origin) / scale; at level k
// that point is a 2^k times smaller coordinate, between two pixel centres.
std::vector<Tap> taps(int device, double origin, double scale, int full, int levelSize, int k,
                      bool nearest) {
    std::vector<Tap> out(static_cast<size_t>(device));
    const double step = std::exp2(k);
    for (int i = 0; i < device; ++i) {
        const double u = (i + 0.5 - origin) / scale;
        if (u < 0 || u >= full) continue;
        Tap& t = out[static_cast<size_t>(i)];
        if (nearest) {
            t.first = t.second = static_cast<int>(u);
            continue;
        }
        const double v = std::clamp(u / step - 0.5, 0.0, levelSize - 1.0);
        t.first = static_cast<int>(v);
        t.second = std::min(t.first + 1, levelSize - 1);
        t.weight = static_cast<float>(v - t.first);
    }
    return out;
}

}  // namespace

Rgb8Plane::Rgb8Plane(int w, int h)
    : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 3) {}

PicturePyramid::PicturePyramid(Rgb8Plane full) {
    levels_.push_back(std::move(full));
}

void PicturePyramid::buildLevels() {
    const std::atomic<bool> never{false};
    adoptLevels(reducedLevels(levels_.front(), never));
}

std::vector<Rgb8Plane> PicturePyramid::reducedLevels(const Rgb8Plane& full,
                                                     const std::atomic<bool>& stop) {
    std::vector<Rgb8Plane> levels;
    const Rgb8Plane* last = &full;
    while (std::max(last->width, last->height) > kSmallestSide) {
        if (stop) return {};
        levels.push_back(halved(*last));
        last = &levels.back();
    }
    return levels;
}

void PicturePyramid::adoptLevels(std::vector<Rgb8Plane> levels) {
    levels_.resize(1);
    for (Rgb8Plane& level : levels) levels_.push_back(std::move(level));
}

size_t PicturePyramid::bytes() const {
    size_t total = 0;
    for (const Rgb8Plane& p : levels_) total += p.bytes();
    return total;
}

QImage renderView(const PicturePyramid& pyramid, const ViewPlacement& placement, QSize device,
                  QRgb background) {
    QImage view = allocatedImage(device.width(), device.height(), QImage::Format_RGB32);
    const QSize full = pyramid.size();
    const double s = placement.scale;
    // From 100 % up the full level, pixel for pixel; below, the level whose
    // own scale lies in (1/2, 1].
    const bool nearest = s >= 1;
    const int k = nearest ? 0
                          : std::clamp(static_cast<int>(std::floor(-std::log2(s))), 0,
                                       pyramid.levelCount() - 1);
    const Rgb8Plane& level = pyramid.level(k);
    const std::vector<Tap> cols =
        taps(device.width(), placement.origin.x(), s, full.width(), level.width, k, nearest);
    const std::vector<Tap> rows =
        taps(device.height(), placement.origin.y(), s, full.height(), level.height, k, nearest);
    parallelRows(device.height(), 32, [&](const RowBand& band) {
        for (int j = band.begin; j < band.end; ++j) {
            auto* out = reinterpret_cast<QRgb*>(view.scanLine(j));
            const Tap& r = rows[static_cast<size_t>(j)];
            if (r.first < 0) {
                std::fill(out, out + device.width(), background);
                continue;
            }
            const uint8_t* a = level.row(r.first);
            const uint8_t* b = level.row(r.second);
            for (int i = 0; i < device.width(); ++i) {
                const Tap& c = cols[static_cast<size_t>(i)];
                if (c.first < 0) {
                    out[i] = background;
                    continue;
                }
                const uint8_t* p = a + c.first * 3;
                if (nearest) {
                    out[i] = qRgb(p[0], p[1], p[2]);
                    continue;
                }
                const uint8_t* q = a + c.second * 3;
                const uint8_t* u = b + c.first * 3;
                const uint8_t* v = b + c.second * 3;
                int rgb[3];
                for (int ch = 0; ch < 3; ++ch) {
                    const float top = p[ch] + c.weight * static_cast<float>(q[ch] - p[ch]);
                    const float bottom = u[ch] + c.weight * static_cast<float>(v[ch] - u[ch]);
                    rgb[ch] = static_cast<int>(top + r.weight * (bottom - top) + 0.5f);
                }
                out[i] = qRgb(rgb[0], rgb[1], rgb[2]);
            }
        }
    });
    return view;
}
