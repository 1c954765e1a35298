// Frames resampled into image 1's geometry, and the samples that a moved frame
// covers. The interpolation is a Catmull-Rom cubic in two passes along each
// output row (down the source columns, then along the row), each pass clamped
// to its two nearest samples: sharp like a cubic, but it never makes a value
// beyond its neighbours, so no ringing around clipped highlights and nothing
// outside 0..65535. A whole-pixel move copies the samples exactly.
#include "align/align.h"

#include "support/errors.h"
#include "support/parallel.h"

#include <algorithm>
#include <cmath>

namespace {

// Where output pixel (x, y) is found in the moved frame: the inverse move.
struct SourceMap {
    std::array<double, 6> a;
    double sx(double x, double y) const { return a[0] * x + a[1] * y + a[2]; }
    double sy(double x, double y) const { return a[3] * x + a[4] * y + a[5]; }
};

bool inside(const SourceMap& m, int x, int y, int width, int height) {
    const double sx = m.sx(x, y), sy = m.sy(x, y);
    return sx >= 0 && sx <= width - 1 && sy >= 0 && sy <= height - 1;
}

struct Weights {
    float w[4];
};

// Catmull-Rom weights of the samples at -1, 0, 1, 2 for a position t in [0, 1].
inline Weights catmullRom(float t) {
    const float t2 = t * t, t3 = t2 * t;
    return {{(-t3 + 2 * t2 - t) * 0.5f, (3 * t3 - 5 * t2 + 2) * 0.5f,
             (-3 * t3 + 4 * t2 + t) * 0.5f, (t3 - t2) * 0.5f}};
}

// Whole part (limited to 0..size - 2) and fraction of a position in [0, size - 1].
inline int split(double s, int size, float& t) {
    int i = static_cast<int>(std::floor(s));
    if (i > size - 2) i = size - 2;
    if (i < 0) i = 0;
    t = static_cast<float>(s - i);
    return i;
}

inline float clampTo(float v, float a, float b) {
    return std::min(std::max(v, std::min(a, b)), std::max(a, b));
}

CoveredRows coverageOf(const SourceMap& m, int width, int height) {
    CoveredRows rows;
    rows.begin.assign(static_cast<size_t>(height), 0);
    rows.end.assign(static_cast<size_t>(height), 0);
    for (int y = 0; y < height; ++y) {
        // Each condition 0 <= s <= size - 1 is linear in x: intersect the two
        // ranges, then settle the ends with the very test the warp uses.
        double lo = -1e300, hi = 1e300;
        auto limit = [&](double slope, double at0, double size) {
            if (std::fabs(slope) < 1e-300) {
                if (at0 < 0 || at0 > size - 1) hi = -1e300;
                return;
            }
            double a = (0 - at0) / slope, b = (size - 1 - at0) / slope;
            if (a > b) std::swap(a, b);
            lo = std::max(lo, a);
            hi = std::min(hi, b);
        };
        limit(m.a[0], m.sx(0, y), width);
        limit(m.a[3], m.sy(0, y), height);
        int begin = static_cast<int>(std::clamp(std::ceil(lo), 0.0, double(width)));
        int end = static_cast<int>(std::clamp(std::floor(hi) + 1, 0.0, double(width)));
        if (begin < end) {
            while (begin < end && !inside(m, begin, y, width, height)) ++begin;
            while (begin > 0 && inside(m, begin - 1, y, width, height)) --begin;
            while (end > begin && !inside(m, end - 1, y, width, height)) --end;
            while (end < width && inside(m, end, y, width, height)) ++end;
        }
        if (begin >= end) begin = end = 0;
        rows.begin[static_cast<size_t>(y)] = begin;
        rows.end[static_cast<size_t>(y)] = end;
    }
    return rows;
}

}  // namespace

CoveredRows coveredRows(const RigidMove& move, int width, int height) {
    return coverageOf(SourceMap{affineOf(inverse(move), width, height)}, width, height);
}

GflBitmap resampleToFirst(const GflBitmap& image, const RigidMove& move, CoveredRows& covered) {
    const int width = image.width, height = image.height;
    if (image.empty() || image.pixels.size() != image.sampleCount())
        throw RunError(kErrInvalidArgument, QStringLiteral("Empty image"));
    const SourceMap m{affineOf(inverse(move), width, height)};
    if (!(m.a[0] > 0))
        throw RunError(kErrInvalidArgument, QStringLiteral("Move outside the aligned range"));
    covered = coverageOf(m, width, height);
    GflBitmap out;
    out.width = width;
    out.height = height;
    out.pixels.assign(out.sampleCount(), 0);
    if (width < 2 || height < 2) {
        // Nothing to interpolate between: only a move that keeps every sample in place.
        for (int y = 0; y < height; ++y)
            for (int x = covered.begin[static_cast<size_t>(y)]; x < covered.end[static_cast<size_t>(y)]; ++x) {
                const long sx = std::lround(m.sx(x, y)), sy = std::lround(m.sy(x, y));
                std::copy_n(image.row(static_cast<int>(sy)) + sx * 3, 3, out.row(y) + x * 3);
            }
        return out;
    }
    // Along output row y, the source points lie on one line: at source column
    // u its row is v(u) = slope u + offset(y).
    const double slope = m.a[3] / m.a[0];
    parallelRows(height, 16, [&](const RowBand& band) {
        std::vector<float> column(static_cast<size_t>(width) * 3);
        for (int y = band.begin; y < band.end; ++y) {
            const int xb = covered.begin[static_cast<size_t>(y)], xe = covered.end[static_cast<size_t>(y)];
            if (xb >= xe) continue;
            const double rowX = m.a[1] * y + m.a[2];
            const double offset = m.a[4] * y + m.a[5] - slope * rowX;
            float t = 0;
            const int u0 = std::max(0, split(m.sx(xb, y), width, t) - 1);
            const int u1 = std::min(width - 1, split(m.sx(xe - 1, y), width, t) + 2);
            // First pass: every source column the row needs, at its v(u).
            for (int u = u0; u <= u1; ++u) {
                const double v = std::clamp(slope * u + offset, 0.0, height - 1.0);
                const int iv = split(v, height, t);
                const Weights w = catmullRom(t);
                const uint16_t* r1 = image.row(iv) + static_cast<size_t>(u) * 3;
                const uint16_t* r2 = image.row(iv + 1) + static_cast<size_t>(u) * 3;
                const uint16_t* r0 = iv > 0 ? image.row(iv - 1) + static_cast<size_t>(u) * 3 : r1;
                const uint16_t* r3 = iv + 2 < height ? image.row(iv + 2) + static_cast<size_t>(u) * 3 : r2;
                float* c = column.data() + static_cast<size_t>(u) * 3;
                for (int k = 0; k < 3; ++k) {
                    const float a = r1[k], b = r2[k];
                    c[k] = clampTo(w.w[0] * r0[k] + w.w[1] * a + w.w[2] * b + w.w[3] * r3[k], a, b);
                }
            }
            // Second pass: along the row.
            uint16_t* o = out.row(y);
            for (int x = xb; x < xe; ++x) {
                const int iu = split(m.sx(x, y), width, t);
                const Weights w = catmullRom(t);
                const float* c1 = column.data() + static_cast<size_t>(iu) * 3;
                const float* c2 = c1 + 3;
                const float* c0 = iu > u0 ? c1 - 3 : c1;
                const float* c3 = iu + 2 <= u1 ? c2 + 3 : c2;
                for (int k = 0; k < 3; ++k) {
                    const float v =
                        clampTo(w.w[0] * c0[k] + w.w[1] * c1[k] + w.w[2] * c2[k] + w.w[3] * c3[k],
                                c1[k], c2[k]);
                    o[static_cast<size_t>(x) * 3 + k] = static_cast<uint16_t>(std::nearbyint(v));
                }
            }
        }
    });
    return out;
}
