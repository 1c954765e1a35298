// Frames resampled into image 1's geometry, and the samples that a moved frame
// covers. The interpolation is a Catmull-Rom cubic in two passes along each
// output row (down the source columns, then along the row), each pass clamped
// to its two nearest samples: sharp like a cubic, but it never makes a value
// beyond its neighbours, so no ringing around clipped highlights and nothing
// outside 0..65535. A whole-pixel move copies the samples exactly.
#include "align/resample_forms.h"

#include "support/errors.h"
#include "support/parallel.h"

#include <algorithm>
#include <array>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Catmull-Rom weights of the samples at -1, 0, 1, 2 for a position t in [0, 1].
inline std::array<float, 4> catmullRom(float t) {
    const float t2 = t * t, t3 = t2 * t;
    return {(-t3 + 2 * t2 - t) * 0.5f, (3 * t3 - 5 * t2 + 2) * 0.5f, (-3 * t3 + 4 * t2 + t) * 0.5f,
            (t3 - t2) * 0.5f};
}

// The weights for 1024 phases between two samples and for t = 1: a phase is
// 1/1024 of a pixel, far below what the estimate resolves. Phase 0 is exactly
// (0, 1, 0, 0), so a whole-pixel move copies its samples. Each weight is
// stored four times, ready for the four lanes of a vector.
constexpr int kPhases = 1024;
struct PhaseWeights {
    alignas(16) float w[4][4];
};
const PhaseWeights* phaseTable() {
    static const std::vector<PhaseWeights> table = [] {
        std::vector<PhaseWeights> t(kPhases + 1);
        for (int p = 0; p <= kPhases; ++p) {
            const auto w = catmullRom(static_cast<float>(p) / kPhases);
            for (int j = 0; j < 4; ++j) std::fill_n(t[static_cast<size_t>(p)].w[j], 4, w[static_cast<size_t>(j)]);
        }
        return t;
    }();
    return table.data();
}

// Whole part (limited to 0..size - 2) and phase of a position in
// [0, size - 1]; positions are never negative, so truncation is the floor.
inline int split(double s, int size, int& phase) {
    int i = static_cast<int>(s);
    if (i > size - 2) i = size - 2;
    phase = static_cast<int>(static_cast<float>(s - i) * kPhases + 0.5f);
    return i;
}

// Nearest integer of a value in 0..65535, halves to even: adding and taking
// away 1.5 * 2^23 leaves a float rounded to a whole number in the default
// rounding mode, without a call into the maths library in the pixel loop.
constexpr float kRoundingConstant = 12582912.0f;
inline uint16_t roundSample(float v) {
    return static_cast<uint16_t>(static_cast<int>((v + kRoundingConstant) - kRoundingConstant));
}

// The arithmetic of one pixel: four taps, the weighted sum in a fixed order,
// the clamp to the two middle taps. Two forms with the same interface: the
// plain one channel at a time, and where the build has SSE2 the three
// channels at once, each lane computed exactly as the plain form computes a
// channel. Both are compiled wherever they can be, so tests hold them to the
// same bytes; the program uses the SSE2 form where it has it.
struct PlainPixels {
    // Pixel runs are the SSE2 form's; the plain one makes each pixel alone.
    static constexpr bool kRuns = false;
    struct Rgb {
        float v[3];
    };
    static Rgb load(const uint16_t* p) {
        return {{static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])}};
    }
    static Rgb loadLast(const uint16_t* p) { return load(p); }
    static Rgb loadFloats(const float* p) { return {{p[0], p[1], p[2]}}; }
    static Rgb interpolate(const PhaseWeights& w, Rgb a, Rgb b, Rgb c, Rgb d) {
        Rgb out{};
        for (int k = 0; k < 3; ++k) {
            const float sum =
                w.w[0][0] * a.v[k] + w.w[1][0] * b.v[k] + w.w[2][0] * c.v[k] + w.w[3][0] * d.v[k];
            out.v[k] = std::min(std::max(sum, std::min(b.v[k], c.v[k])), std::max(b.v[k], c.v[k]));
        }
        return out;
    }
    static void storeFloats(float* p, Rgb v) { std::copy_n(v.v, 3, p); }
    static void store(uint16_t* p, Rgb v) {
        for (int k = 0; k < 3; ++k) p[k] = roundSample(v.v[k]);
    }
    static void storeLast(uint16_t* p, Rgb v) { store(p, v); }
};

#if defined(__SSE2__)
struct Sse2Pixels {
    static constexpr bool kRuns = true;
    struct Rgb {
        __m128 v;
    };
    // Reads four samples and ignores the fourth: not for a row's last pixel.
    static Rgb load(const uint16_t* p) {
        const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        return {_mm_cvtepi32_ps(_mm_unpacklo_epi16(four, _mm_setzero_si128()))};
    }
    static Rgb loadLast(const uint16_t* p) {
        const uint16_t four[4] = {p[0], p[1], p[2], 0};
        return load(four);
    }
    static Rgb loadFloats(const float* p) { return {_mm_loadu_ps(p)}; }
    static Rgb interpolate(const PhaseWeights& w, Rgb a, Rgb b, Rgb c, Rgb d) {
        __m128 sum =
            _mm_add_ps(_mm_mul_ps(_mm_load_ps(w.w[0]), a.v), _mm_mul_ps(_mm_load_ps(w.w[1]), b.v));
        sum = _mm_add_ps(sum, _mm_mul_ps(_mm_load_ps(w.w[2]), c.v));
        sum = _mm_add_ps(sum, _mm_mul_ps(_mm_load_ps(w.w[3]), d.v));
        return {_mm_min_ps(_mm_max_ps(sum, _mm_min_ps(b.v, c.v)), _mm_max_ps(b.v, c.v))};
    }
    // Stores four floats: the fourth lands on the next pixel's first sample,
    // which is written after it (the buffer has room past its end).
    static void storeFloats(float* p, Rgb v) { _mm_storeu_ps(p, v.v); }
    static __m128i pack(Rgb v) {
        const __m128 k = _mm_set1_ps(kRoundingConstant);
        const __m128i whole = _mm_cvttps_epi32(_mm_sub_ps(_mm_add_ps(v.v, k), k));
        // 0..65535 packed through the signed range: SSE2 has no unsigned pack.
        const __m128i bias = _mm_set1_epi32(32768);
        return _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(whole, bias), bias),
                             _mm_set1_epi16(static_cast<short>(0x8000)));
    }
    // Writes four samples, the fourth over the next pixel's first: not for the
    // last pixel written in a row.
    static void store(uint16_t* p, Rgb v) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), pack(v));
    }
    static void storeLast(uint16_t* p, Rgb v) {
        alignas(16) uint16_t eight[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(eight), pack(v));
        std::copy_n(eight, 3, p);
    }
    // Samples [k0, k1) of `out` from a four-tap filter with fixed weights over the
    // interleaved column samples: sample k reads column samples k + shift - 3,
    // k + shift, k + shift + 3 and k + shift + 6. Four samples a lane group, with
    // exactly the arithmetic interpolate() and store() give each channel.
    static void filterRun(const float* column, ptrdiff_t shift, const PhaseWeights& w, size_t k0,
                          size_t k1, uint16_t* out) {
        const __m128 w0 = _mm_load_ps(w.w[0]), w1 = _mm_load_ps(w.w[1]);
        const __m128 w2 = _mm_load_ps(w.w[2]), w3 = _mm_load_ps(w.w[3]);
        auto four = [&](size_t k) {
            const float* c = column + static_cast<ptrdiff_t>(k) + shift;
            const __m128 a = _mm_loadu_ps(c - 3), b = _mm_loadu_ps(c);
            const __m128 d = _mm_loadu_ps(c + 3), e = _mm_loadu_ps(c + 6);
            __m128 sum = _mm_add_ps(_mm_mul_ps(w0, a), _mm_mul_ps(w1, b));
            sum = _mm_add_ps(sum, _mm_mul_ps(w2, d));
            sum = _mm_add_ps(sum, _mm_mul_ps(w3, e));
            return Rgb{_mm_min_ps(_mm_max_ps(sum, _mm_min_ps(b, d)), _mm_max_ps(b, d))};
        };
        size_t k = k0;
        for (; k + 8 <= k1; k += 8) {
            const __m128i low = pack(four(k)), high = pack(four(k + 4));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_unpacklo_epi64(low, high));
        }
        for (; k < k1; ++k) {
            const float* c = column + static_cast<ptrdiff_t>(k) + shift;
            const float sum =
                w.w[0][0] * c[-3] + w.w[1][0] * c[0] + w.w[2][0] * c[3] + w.w[3][0] * c[6];
            out[k] =
                roundSample(std::min(std::max(sum, std::min(c[0], c[3])), std::max(c[0], c[3])));
        }
    }
};

#endif

// One output row: samples [xb, xe) of row y from the source rows, into `out`
// (the rest of `out` is left alone). `column` holds 3 * width + 4 floats.
template <class Pixels>
void resampleRow(const SourceMap& m, double slope, const uint16_t* const* source, int width,
                 int height, int y, int xb, int xe, float* column, uint16_t* out) {
    if (xb >= xe) return;
    const PhaseWeights* weights = phaseTable();
    // Along the row the source points lie on one line: at source column u,
    // source row v(u) = slope u + offset.
    const double offset = m.a[4] * y + m.a[5] - slope * (m.a[1] * y + m.a[2]);
    int phase = 0;
    const int u0 = std::max(0, split(m.sx(xb, y), width, phase) - 1);
    const int u1 = std::min(width - 1, split(m.sx(xe - 1, y), width, phase) + 2);
    // First pass: every source column the row needs, at its v(u).
    auto columnAt = [&](int u, auto load) {
        const double v = std::clamp(slope * u + offset, 0.0, height - 1.0);
        const int iv = split(v, height, phase);
        const size_t at = static_cast<size_t>(u) * 3;
        const typename Pixels::Rgb r1 = load(source[iv] + at);
        const typename Pixels::Rgb r2 = load(source[iv + 1] + at);
        const typename Pixels::Rgb r0 = iv > 0 ? load(source[iv - 1] + at) : r1;
        const typename Pixels::Rgb r3 = iv + 2 < height ? load(source[iv + 2] + at) : r2;
        Pixels::storeFloats(column + at, Pixels::interpolate(weights[phase], r0, r1, r2, r3));
    };
    const int fastEnd = std::min(u1, width - 2);
    for (int u = u0; u <= fastEnd; ++u) columnAt(u, Pixels::load);
    if (u1 == width - 1) columnAt(u1, Pixels::loadLast);
    // Second pass: along the row.
    auto pixelAt = [&](int x) {
        const int iu = split(m.sx(x, y), width, phase);
        const float* c1 = column + static_cast<size_t>(iu) * 3;
        const float* c2 = c1 + 3;
        const float* c0 = iu > u0 ? c1 - 3 : c1;
        const float* c3 = iu + 2 <= u1 ? c2 + 3 : c2;
        return Pixels::interpolate(weights[phase], Pixels::loadFloats(c0), Pixels::loadFloats(c1),
                                   Pixels::loadFloats(c2), Pixels::loadFloats(c3));
    };
    if constexpr (Pixels::kRuns) {
        // Along a row the source advances by cos(angle) a pixel, a hair under 1:
        // long runs of pixels read the same columns relative to themselves with
        // the same phase. Such a run is one four-tap filter over its samples.
        int x = xb;
        while (x < xe) {
            int p = 0;
            const int iu = split(m.sx(x, y), width, p);
            if (iu <= u0 || iu + 2 > u1) {
                // At the row's ends a missing column repeats its neighbour.
                Pixels::storeLast(out + static_cast<size_t>(x) * 3, pixelAt(x));
                ++x;
                continue;
            }
            int end = x + 1;
            for (; end < xe; ++end) {
                int q = 0;
                const int next = split(m.sx(end, y), width, q);
                if (next - end != iu - x || q != p || next + 2 > u1) break;
            }
            Pixels::filterRun(column, 3 * static_cast<ptrdiff_t>(iu - x), weights[p],
                              static_cast<size_t>(x) * 3, static_cast<size_t>(end) * 3, out);
            x = end;
        }
    } else {
        for (int x = xb; x < xe; ++x) Pixels::store(out + static_cast<size_t>(x) * 3, pixelAt(x));
    }
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

namespace {

template <class Pixels>
void resampleWith(GflBitmap& image, const RigidMove& move, CoveredRows& covered) {
    const int width = image.width, height = image.height;
    if (image.empty() || image.pixels.size() != image.sampleCount())
        throw RunError(kErrInvalidArgument, QStringLiteral("Empty image"));
    const SourceMap m{affineOf(inverse(move), width, height)};
    if (!(m.a[0] > 0))
        throw RunError(kErrInvalidArgument, QStringLiteral("Move outside the aligned range"));
    covered = coverageOf(m, width, height);
    if (width < 2 || height < 2) {
        // Nothing to interpolate between: every covered sample keeps its place.
        for (int y = 0; y < height; ++y) {
            uint16_t* row = image.row(y);
            for (int x = 0; x < width; ++x)
                if (!covered.covers(x, y)) std::fill_n(row + static_cast<size_t>(x) * 3, 3, uint16_t{0});
        }
        return;
    }
    // Source rows an output row y reads lie within [y + reachUp, y + reachDown]
    // (the cubic's taps included): sy - y is linear, so the corners bound it.
    double lowest = 0, highest = 0;
    for (const int x : {0, width - 1})
        for (const int y : {0, height - 1}) {
            lowest = std::min(lowest, m.sy(x, y) - y);
            highest = std::max(highest, m.sy(x, y) - y);
        }
    const int reachUp = static_cast<int>(std::floor(lowest)) - 2;
    const int reachDown = static_cast<int>(std::ceil(highest)) + 2;
    // Output rows are made a chunk at a time into a buffer and only then
    // written over their source rows; source rows already overwritten that
    // later chunks still read are kept in a ring. So the frame is resampled in
    // its own memory with a few hundred rows to spare, not a second frame.
    constexpr int kChunk = 64;
    const size_t rowSamples = static_cast<size_t>(width) * 3;
    const int ringRows = std::max(0, -reachUp) + kChunk;
    std::vector<uint16_t> ring(static_cast<size_t>(ringRows) * rowSamples);
    std::vector<uint16_t> chunk(static_cast<size_t>(kChunk) * rowSamples);
    std::vector<const uint16_t*> source(static_cast<size_t>(height));
    const double slope = m.a[3] / m.a[0];
    for (int y0 = 0; y0 < height; y0 += kChunk) {
        const int y1 = std::min(height, y0 + kChunk);
        for (int r = y0; r < y1; ++r)
            std::copy_n(image.row(r), rowSamples, ring.data() + static_cast<size_t>(r % ringRows) * rowSamples);
        for (int r = std::max(0, y0 + reachUp); r < std::min(height, y1 + reachDown + 1); ++r)
            source[static_cast<size_t>(r)] =
                r < y0 ? ring.data() + static_cast<size_t>(r % ringRows) * rowSamples : image.row(r);
        parallelRows(y1 - y0, 8, [&](const RowBand& band) {
            std::vector<float> column(rowSamples + 4, 0.0f);
            for (int y = y0 + band.begin; y < y0 + band.end; ++y) {
                uint16_t* o = chunk.data() + static_cast<size_t>(y - y0) * rowSamples;
                const int xb = covered.begin[static_cast<size_t>(y)];
                const int xe = covered.end[static_cast<size_t>(y)];
                // Uncovered samples are 0 until the exposures fill them.
                std::fill(o, o + static_cast<size_t>(xb) * 3, uint16_t{0});
                std::fill(o + static_cast<size_t>(std::max(xb, xe)) * 3, o + rowSamples, uint16_t{0});
                resampleRow<Pixels>(m, slope, source.data(), width, height, y, xb, xe,
                                    column.data(), o);
            }
        });
        std::copy_n(chunk.data(), static_cast<size_t>(y1 - y0) * rowSamples, image.row(y0));
    }
}

}  // namespace

void resampleInPlace(GflBitmap& image, const RigidMove& move, CoveredRows& covered,
                     ResampleForm form) {
#if defined(__SSE2__)
    if (form == ResampleForm::Sse2) return resampleWith<Sse2Pixels>(image, move, covered);
#else
    (void)form;  // only the plain form is compiled
#endif
    resampleWith<PlainPixels>(image, move, covered);
}

void resampleInPlace(GflBitmap& image, const RigidMove& move, CoveredRows& covered) {
    resampleInPlace(image, move, covered,
                    kHasSse2Resample ? ResampleForm::Sse2 : ResampleForm::Plain);
}
