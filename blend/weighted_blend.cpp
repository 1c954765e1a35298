// The weighted merge's pixels: every image that is unclipped and agrees with
// the map's choice is averaged in with the inverse of its noise variance.
#include "blend/weighted.h"

#include "support/errors.h"
#include "support/parallel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

constexpr int kBandRows = 8;
// An image's weight falls from full to none over the last 4 % below its clip
// level: wider than the noise of the expected signal near the top of an
// image, narrow enough to keep most of the stop the selection blend gives away.
constexpr double kTaper = 0.04;
// A sample agrees with the map's choice within 4 standard deviations of their
// difference, widened by 1 % of the signal for the error of the measured
// exposure ratios.
constexpr double kSigmas = 4;
constexpr double kRatioTolerance = 0.01;
// Images more than 4.1 EV darker than the brightest usable one add under
// 1/17 of its weight each (less where read noise counts): they are left out.
// A bracket 2 EV apart thus averages three images, one 1.4 EV apart three
// rather than four, a quarter less work for a tenth of a dB.
constexpr double kDarkestRatio = 17;

// The three channels of a pixel side by side, computed at once: single
// precision carries 24 bits, more than the 16 of a sample and of the output.
using Lanes = float __attribute__((vector_size(16)));
using IntLanes = int32_t __attribute__((vector_size(16)));

inline Lanes lanes(const float (&v)[4]) {
    Lanes out;
    std::memcpy(&out, v, sizeof out);
    return out;
}
inline IntLanes lanes(const int32_t (&v)[4]) {
    IntLanes out;
    std::memcpy(&out, v, sizeof out);
    return out;
}
inline IntLanes sampleLanes(const uint16_t* p) {
    return IntLanes{p[0], p[1], p[2], 0};
}
// The same from one 8-byte read, for a pixel that is not the image's last:
// the fourth sample read is the next pixel's and is masked off.
using Shorts = uint16_t __attribute__((vector_size(8)));
inline IntLanes sampleLanesAhead(const uint16_t* p) {
    Shorts s;
    std::memcpy(&s, p, sizeof s);
    return __builtin_convertvector(s, IntLanes) & IntLanes{-1, -1, -1, 0};
}
inline Lanes toFloat(IntLanes v) {
    return __builtin_convertvector(v, Lanes);
}
inline Lanes splat(float v) {
    return Lanes{v, v, v, v};
}
// The fourth lane of every test is false by construction, so any set bit is
// one of the three channels'.
inline bool anyOfThree(IntLanes mask) {
    uint64_t half[2];
    std::memcpy(half, &mask, sizeof half);
    return (half[0] | half[1]) != 0;
}
inline float maxOfThree(Lanes v) {
    return std::max({v[0], v[1], v[2]});
}

// The gamma encoding, as a table of 1024 steps per octave of the linear value
// from 2^-24 of full scale up to full scale, read with linear interpolation.
// Its error is below 1e-7 of the value (0.007 at full scale), far under the
// 16-bit output's rounding; smaller values are encoded exactly, larger ones
// clip in every output whatever their encoding.
constexpr int kStepsBits = 10;
constexpr int kOctaves = 24;
// Bits of a float's mantissa below the table's steps, and their weight.
constexpr int kFracBits = 23 - kStepsBits;
constexpr float kFracUnit = 1.0f / (1 << kFracBits);

std::vector<float> gammaTable(float g) {
    std::vector<float> table;
    if (g == 1.0f) return table;
    table.resize((static_cast<size_t>(kOctaves) << kStepsBits) + 1);
    for (size_t i = 0; i < table.size(); ++i) {
        const double step =
            std::ldexp(static_cast<double>(i & ((1u << kStepsBits) - 1)), -kStepsBits);
        const double x = std::ldexp(1.0 + step, static_cast<int>(i >> kStepsBits) - kOctaves);
        table[i] = static_cast<float>(encodeGamma(65535 * x, g));
    }
    return table;
}

// `x` is v / 65535 in single precision, as the caller forms it: the lanes
// and a lone value round it differently, and each channel must be encoded
// from its own x whatever the other channels of its pixel hold.
inline double encodeFast(double v, float x, const std::vector<float>& table, float g) {
    // From full scale up the encoded value stays at or above full scale, and
    // every output file (bracket factors are at least 1) clips it to 65535:
    // the value itself will do.
    if (x >= 1) return v;
    if (!(x >= 0x1p-24f)) return v > 0 ? encodeGamma(v, g) : 0.0;
    // The octave and the step within it are the top bits of the float; the
    // bits below them are the fraction between two steps.
    const uint32_t bits = std::bit_cast<uint32_t>(x);
    const size_t i = (bits >> kFracBits) - ((127u - kOctaves) << kStepsBits);
    const float frac = static_cast<float>(bits & ((1u << kFracBits) - 1)) * kFracUnit;
    return table[i] + (table[i + 1] - table[i]) * frac;
}
inline double encodeFast(double v, const std::vector<float>& table, float g) {
    if (table.empty()) return v;
    return encodeFast(v, static_cast<float>(v * (1.0 / 65535)), table, g);
}

// The three channels at once: the table's indexes and fractions in lanes,
// one at a time when a channel lies outside the table.
inline void encodeLanes(Lanes v, const std::vector<float>& table, float g, double* out) {
    if (table.empty()) {
        for (int c = 0; c < 3; ++c) out[c] = v[c];
        return;
    }
    const Lanes x = v * (1.0f / 65535);
    const IntLanes outside = (x < 0x1p-24f) | (x >= 1.0f);
    if (anyOfThree(outside & IntLanes{-1, -1, -1, 0})) {
        for (int c = 0; c < 3; ++c) out[c] = encodeFast(v[c], x[c], table, g);
        return;
    }
    IntLanes bits;
    std::memcpy(&bits, &x, sizeof bits);
    const IntLanes i = (bits >> kFracBits) - ((127 - kOctaves) << kStepsBits);
    const Lanes frac = __builtin_convertvector(bits & ((1 << kFracBits) - 1), Lanes) * kFracUnit;
    const float* t = table.data();
    const Lanes lo{t[i[0]], t[i[1]], t[i[2]], 0}, hi{t[i[0] + 1], t[i[1] + 1], t[i[2] + 1], 0};
    const Lanes e = lo + (hi - lo) * frac;
    for (int c = 0; c < 3; ++c) out[c] = e[c];
}

// Full weight below 1 - kTaper of the clip level, none at it, smooth between.
inline float taper(float share) {
    if (share <= 1 - static_cast<float>(kTaper)) return 1;
    const float u = (1 - share) * static_cast<float>(1 / kTaper);
    return u * u * (3 - 2 * u);
}

}  // namespace

WeightedBlender::WeightedBlender(const BlendInput& in, const WeightedModel& model,
                                 const MotionAreas* areas)
    : in_(in), areas_(areas && !areas->none() ? areas : nullptr), gammaTable_(gammaTable(in.g)) {
    const size_t n = in.set.ImagenesTIFF.size();
    if (model.clipLevel.size() != n || model.noise.size() != n || in.factors.size() < n)
        throw RunError(kErrInvalidArgument, QStringLiteral("The noise model is of another set"));
    images_.resize(n);
    for (size_t k = 0; k < n; ++k) {
        Image& im = images_[k];
        const double q = in.factors[k];
        for (size_t c = 0; c < 4; ++c) {
            im.q[c] = static_cast<float>(q);
            // The unused lane: no variance to speak of, never clipped.
            im.alpha[c] = 0;
            im.beta[c] = 1;
            im.invClip[c] = 0;
            im.clipSample[c] = 65536;
        }
        for (size_t c = 0; c < 3; ++c) {
            // A sample s of this image reads s * q in the output, with the
            // variance q^2 (a s + b) at the expected s = V / q.
            im.alpha[c] = static_cast<float>(model.noise[k][c].a * q);
            im.beta[c] = static_cast<float>(model.noise[k][c].b * q * q);
            const double clip = std::clamp(model.clipLevel[k][c], 1.0, 65535.0);
            im.invClip[c] = static_cast<float>(1 / (clip * q));
            im.clipSample[c] = static_cast<int32_t>(std::ceil(clip));
        }
    }
    lowest_.resize(n);
    reach_.assign(n * n, 0.0f);
    for (size_t top = 0; top < n; ++top) {
        size_t j = top;
        while (j > 0 && in.factors[j - 1] <= kDarkestRatio * in.factors[top]) --j;
        lowest_[top] = static_cast<int>(j);
        // How near its clip level image j can be, at most, per unit of the
        // top image's share of its own.
        for (size_t k = 0; k < n; ++k)
            for (size_t c = 0; c < 3; ++c)
                reach_[top * n + k] =
                    std::max(reach_[top * n + k], images_[k].invClip[c] / images_[top].invClip[c]);
    }
}

void WeightedBlender::blend(int first, int count, double* out, double* shares) const {
    const BlendInput& in = in_;
    const int w = in.set.AnchoImagen;
    const int n = static_cast<int>(images_.size());
    const Image* images = images_.data();
    std::vector<const uint16_t*> rows(static_cast<size_t>(n));
    // Per image: its weights at this pixel, and its shares along the row,
    // added up in double at the end of each row.
    std::vector<Lanes> weight(static_cast<size_t>(n)), rowShare(static_cast<size_t>(n));
    const Lanes sigmas2 = splat(static_cast<float>(kSigmas * kSigmas));
    const Lanes ratio2 = splat(static_cast<float>(kRatioTolerance * kRatioTolerance));
    // Per image, the samples of the row it saw: after alignment the rest
    // holds a darker image's values brought to its exposure, which would
    // count that image's noise twice.
    const bool aligned = in.set.Cobertura.size() == static_cast<size_t>(n);
    std::vector<int> seenFrom(static_cast<size_t>(n), 0), seenTo(static_cast<size_t>(n), w);
    for (int y = first; y < first + count; ++y) {
        for (int k = 0; k < n; ++k) {
            const size_t i = static_cast<size_t>(k);
            rows[i] = in.set.ImagenesTIFF[i].row(y);
            if (aligned && !in.set.Cobertura[i].all()) {
                seenFrom[i] = in.set.Cobertura[i].begin[static_cast<size_t>(y)];
                seenTo[i] = in.set.Cobertura[i].end[static_cast<size_t>(y)];
            }
        }
        const uint8_t* levelRow = in.levelMap.data() + static_cast<size_t>(y) * w;
        std::fill(rowShare.begin(), rowShare.end(), splat(0));
        // Inside moving areas, the images that may be averaged (0: any).
        const bool movingRow =
            areas_ &&
            (areas_->mostDiffers || (y >= areas_->top && y < areas_->top + areas_->boxHeight));
        // Every pixel but the image's very last may be read 8 bytes at a time.
        const int ahead = y + 1 < in.set.AltoImagen ? w : w - 1;
        for (int x = 0; x < w; ++x, out += 3) {
            auto sample = [&](int j) {
                const uint16_t* at = rows[static_cast<size_t>(j)] + x * 3;
                return x < ahead ? sampleLanesAhead(at) : sampleLanes(at);
            };
            const BlendInput::Level& p = in.levels[levelRow[x]];
            // The map's choice, as the selection blend makes it (images 0-based
            // from here), with the variance of that estimate.
            const int k = p.k - 1;
            const Image& ik = images[k];
            const IntLanes rawK = sample(k);
            const Lanes sa = toFloat(rawK);
            Lanes v, varRef;
            int top = k;
            const int chosen = p.genuine ? k : -1;
            if (p.genuine) {
                v = sa * lanes(ik.q);
                varRef = lanes(ik.alpha) * v + lanes(ik.beta);
            } else {
                const Image& ib = images[k + 1];
                const Lanes sb = toFloat(sample(k + 1));
                const Lanes f = splat(p.f), f1 = splat(1 - p.f);
                v = sa * lanes(ik.q) * f1 + sb * lanes(ib.q) * f;
                varRef = f1 * f1 * (lanes(ik.alpha) * v + lanes(ik.beta)) +
                         f * f * (lanes(ib.alpha) * v + lanes(ib.beta));
                top = k + 1;
            }
            // Brighter images the map turned down at its threshold may still be
            // below their true saturation.
            while (top + 1 < n && maxOfThree(v * lanes(images[top + 1].invClip)) < 1) ++top;
            // The map's choice always stands, however bright the top.
            const int lowest = std::min(lowest_[static_cast<size_t>(top)], k);
            const Lanes allowed = varRef + ratio2 * v * v;
            const float topShare = maxOfThree(v * lanes(images[top].invClip));
            const float* reach = reach_.data() + static_cast<size_t>(top) * n;
            Lanes num = splat(0), den = splat(0);
            const uint16_t agreeing = movingRow ? areas_->allowedAt(x, y) : 0;
            for (int j = top; j >= lowest; --j) {
                Lanes& wj = weight[static_cast<size_t>(j)];
                wj = splat(0);
                if (x < seenFrom[static_cast<size_t>(j)] || x >= seenTo[static_cast<size_t>(j)])
                    continue;
                if (agreeing != 0 && ((agreeing >> j) & 1u) == 0) continue;
                const Image& im = images[j];
                const IntLanes raw = j == chosen ? rawK : sample(j);
                // A clipped sample only says the value is at least its clip
                // level. Tested for every image: one far below its clip
                // level can still agree with a dark, noisy choice.
                if (anyOfThree(raw >= lanes(im.clipSample))) continue;
                // An image at most half way to its clip level has its full
                // weight: only the others need their share and the taper.
                float t = 1;
                if (j == top || topShare * reach[j] > 0.5f) {
                    const float share = j == top ? topShare : maxOfThree(v * lanes(im.invClip));
                    if (share >= 1) continue;
                    t = taper(share);
                }
                const Lanes var = lanes(im.alpha) * v + lanes(im.beta);
                Lanes scaled = v;  // the choice agrees with itself
                if (j != chosen) {
                    scaled = toFloat(raw) * lanes(im.q);
                    const Lanes d = scaled - v;
                    if (anyOfThree(d * d > sigmas2 * (var + allowed))) continue;
                }
                wj = splat(t) / var;
                num += wj * scaled;
                den += wj;
            }
            Lanes value = v;
            if (den[0] > 0 && den[1] > 0 && den[2] > 0) {
                const Lanes inv = splat(1) / den;
                value = num * inv;
                for (int j = top; j >= lowest; --j)
                    rowShare[static_cast<size_t>(j)] += weight[static_cast<size_t>(j)] * inv;
            } else {
                // Nothing usable, not even the choice (clipped everywhere):
                // the selection blend's value.
                rowShare[static_cast<size_t>(k)] += splat(p.genuine ? 1.0f : 1.0f - p.f);
                if (!p.genuine) rowShare[static_cast<size_t>(k) + 1] += splat(p.f);
            }
            if (in.blancoNegro) {
                out[0] = out[1] = out[2] =
                    encodeFast(mixed(value[0], value[1], value[2], in.weights), gammaTable_, in.g);
            } else {
                encodeLanes(value, gammaTable_, in.g, out);
            }
        }
        // A pixel's three channel shares count for a third each.
        for (int j = 0; j < n; ++j) {
            const Lanes& r = rowShare[static_cast<size_t>(j)];
            shares[j] += (static_cast<double>(r[0]) + r[1] + r[2]) * (1.0 / 3);
        }
    }
}

WeightedResult blendWeighted(const WeightedBlender& blender, WeightedKeep keep) {
    const bool planes = keep == WeightedKeep::Planes;
    WeightedResult r;
    const int w = blender.width(), h = blender.height();
    const size_t n = blender.imageCount();
    r.planes.width = w;
    r.planes.height = h;
    if (planes) {
        r.planes.values.reset(new double[static_cast<size_t>(w) * h * 3]);
    } else if (keep == WeightedKeep::Samples) {
        r.samples = LargeBuffer(static_cast<size_t>(w) * h * 3 * sizeof(uint16_t));
    }
    std::vector<std::vector<double>> perBand(static_cast<size_t>(rowBandCount(h, kBandRows)),
                                             std::vector<double>(n, 0.0));
    parallelRows(h, kBandRows, [&](const RowBand& band) {
        std::vector<double>& shares = perBand[static_cast<size_t>(band.index)];
        if (planes) {
            blender.blend(band.begin, band.end - band.begin,
                          r.planes.values.get() + static_cast<size_t>(band.begin) * w * 3,
                          shares.data());
            return;
        }
        std::vector<double> row(static_cast<size_t>(w) * 3);
        for (int y = band.begin; y < band.end; ++y) {
            blender.blend(y, 1, row.data(), shares.data());
            if (r.samples)
                quantizeSamples(row.data(), row.size(), 1.0,
                                r.samples.as<uint16_t>() + static_cast<size_t>(y) * w * 3);
        }
    });
    r.shares.assign(n, 0.0);
    for (const auto& band : perBand)
        for (size_t k = 0; k < n; ++k) r.shares[k] += band[k];
    return r;
}

RgbRows WeightedResult::rows(double factor) const {
    if (!samples) return quantizedRows(planes, factor);
    RgbRows out;
    out.width = planes.width;
    out.height = planes.height;
    out.fill = [this](int32_t first, int32_t count, uint16_t* to) {
        const size_t perRow = static_cast<size_t>(planes.width) * 3;
        std::copy_n(samples.as<uint16_t>() + static_cast<size_t>(first) * perRow,
                    static_cast<size_t>(count) * perRow, to);
    };
    return out;
}
