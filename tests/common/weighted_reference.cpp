// The weighted merge as its rule reads: each pixel starts from the map's
// choice, every image is held against it, and those unclipped and agreeing
// are averaged with the inverse of their noise variance. The blend computes
// a pixel in single precision; so does this, in the same order, so the two
// agree to the bit.
#include "tests/common/weighted_reference.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The blend's constants, as it rounds them to single precision.
const float kSigmas2 = static_cast<float>(4.0 * 4.0);   // agreement within 4 sigma
const float kRatio2 = static_cast<float>(0.01 * 0.01);  // exposure ratios known to 1 %
const float kTaperFrom = 1 - static_cast<float>(0.04);  // full weight up to 96 % of clip
const float kTaperScale = static_cast<float>(1 / 0.04);
constexpr double kDarkestRatio = 17;  // darker than the top image / 17: left out

// One channel of one image in output units, from the model.
struct Terms {
    float q;      // exposure factor to the output
    float alpha;  // variance alpha * V + beta at the output value V
    float beta;
    float invClip;  // 1 / clip level
    double clip;    // clip level in developed units, 1..65535
};

float taper(float share) {
    if (share <= kTaperFrom) return 1;
    const float u = (1 - share) * kTaperScale;
    return u * u * (3 - 2 * u);
}

// The blend's gamma encoding of v, given x = v / 65535 as the blend takes it
// in single precision: exact at 1024 steps per octave of x from 2^-24 up to
// 1 and linear between them, exact below, v itself from full scale up.
double encoded(double v, float x, float g) {
    if (g == 1.0f || x >= 1) return v;
    if (!(x >= 0x1p-24f)) return v > 0 ? encodeGamma(v, g) : 0.0;
    int e = 0;
    const float m = std::frexp(x, &e);     // x = m 2^e, m in [0.5, 1)
    const float pos = (2 * m - 1) * 1024;  // steps into the octave, exact
    const float step = std::floor(pos);
    auto node = [&](float s) {
        return static_cast<float>(encodeGamma(65535 * std::ldexp(1.0 + s / 1024.0, e - 1), g));
    };
    const float lo = node(step), hi = node(step + 1);
    return lo + (hi - lo) * (pos - step);
}

}  // namespace

std::vector<uint16_t> LiteralWeighted::samples(double factor) const {
    std::vector<uint16_t> out(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        out[i] = static_cast<uint16_t>(std::min(65535.0, std::nearbyint(factor * values[i])));
    return out;
}

LiteralWeighted literalWeighted(const BlendInput& in, const WeightedModel& model) {
    const FrameSet& set = in.set;
    const int w = set.AnchoImagen, h = set.AltoImagen;
    const int n = static_cast<int>(set.ImagenesTIFF.size());
    std::vector<std::array<Terms, 3>> terms(static_cast<size_t>(n));
    for (size_t k = 0; k < terms.size(); ++k)
        for (size_t c = 0; c < 3; ++c) {
            // A sample s reads s q in the output, with variance q^2 (a s + b).
            const double q = in.factors[k];
            const ChannelNoise& noise = model.noise[k][c];
            const double clip = std::clamp(model.clipLevel[k][c], 1.0, 65535.0);
            terms[k][c] = {static_cast<float>(q), static_cast<float>(noise.a * q),
                           static_cast<float>(noise.b * q * q), static_cast<float>(1 / (clip * q)),
                           clip};
        }

    LiteralWeighted out;
    out.width = w;
    out.height = h;
    out.values.resize(static_cast<size_t>(w) * h * 3);
    out.shares.assign(static_cast<size_t>(n), 0.0);
    // Shares add up in single precision along a row, then in double by bands
    // of 8 rows, then the bands in order: the blend's sums, whatever its threads.
    std::vector<double> band(static_cast<size_t>(n), 0.0);
    const bool aligned = set.Cobertura.size() == static_cast<size_t>(n);
    for (int y = 0; y < h; ++y) {
        std::vector<std::array<float, 3>> rowShares(static_cast<size_t>(n), {0, 0, 0});
        for (int x = 0; x < w; ++x) {
            auto sample = [&](int j, int c) -> float {
                return set.ImagenesTIFF[static_cast<size_t>(j)].row(y)[x * 3 + c];
            };
            auto term = [&](int j, int c) -> const Terms& {
                return terms[static_cast<size_t>(j)][static_cast<size_t>(c)];
            };
            // The map's choice (images 0-based), as the selection blend makes
            // it, and the variance of that estimate.
            const BlendInput::Level& p = in.levels[in.levelMap[static_cast<size_t>(y) * w + x]];
            const int k = p.k - 1;
            const float f = p.f, f1 = 1 - p.f;
            float v[3], varRef[3];
            for (int c = 0; c < 3; ++c) {
                const Terms& a = term(k, c);
                if (p.genuine) {
                    v[c] = sample(k, c) * a.q;
                    varRef[c] = a.alpha * v[c] + a.beta;
                } else {
                    const Terms& b = term(k + 1, c);
                    v[c] = sample(k, c) * a.q * f1 + sample(k + 1, c) * b.q * f;
                    varRef[c] =
                        f1 * f1 * (a.alpha * v[c] + a.beta) + f * f * (b.alpha * v[c] + b.beta);
                }
            }
            // How near image j is to clipping at that value: its brightest channel.
            auto shareOf = [&](int j) {
                float share = 0;
                for (int c = 0; c < 3; ++c) share = std::max(share, v[c] * term(j, c).invClip);
                return share;
            };
            // The brightest image still below its clip level there, counting
            // up from the choice.
            int top = p.genuine ? k : k + 1;
            while (top + 1 < n && shareOf(top + 1) < 1) ++top;
            const int chosen = p.genuine ? k : -1;
            // What a sample may differ by besides its own noise: the choice's
            // noise and the error of its exposure ratio.
            float allowed[3];
            for (int c = 0; c < 3; ++c) allowed[c] = varRef[c] + kRatio2 * v[c] * v[c];

            float num[3] = {0, 0, 0}, den[3] = {0, 0, 0};
            std::vector<std::array<float, 3>> weight(static_cast<size_t>(n), {0, 0, 0});
            // Every image, brightest first as the sums run. Left out: those
            // brighter than the top, those over 17 times darker than it (but
            // never the choice), an aligned one where it saw nothing, one
            // whose expected or actual sample is clipped, and one that
            // disagrees with the choice beyond the noise.
            for (int j = n - 1; j >= 0; --j) {
                if (j > top) continue;
                if (j < k && in.factors[static_cast<size_t>(j)] >
                                 kDarkestRatio * in.factors[static_cast<size_t>(top)])
                    continue;
                if (aligned && !set.Cobertura[static_cast<size_t>(j)].covers(x, y)) continue;
                const float share = shareOf(j);
                bool usable = share < 1;
                for (int c = 0; c < 3; ++c) usable = usable && sample(j, c) < term(j, c).clip;
                float var[3], scaled[3];
                for (int c = 0; c < 3; ++c) {
                    var[c] = term(j, c).alpha * v[c] + term(j, c).beta;
                    scaled[c] = j == chosen ? v[c] : sample(j, c) * term(j, c).q;
                    const float d = scaled[c] - v[c];
                    if (j != chosen && d * d > kSigmas2 * (var[c] + allowed[c])) usable = false;
                }
                if (!usable) continue;
                std::array<float, 3>& wj = weight[static_cast<size_t>(j)];
                for (size_t c = 0; c < 3; ++c) {
                    wj[c] = taper(share) / var[c];
                    num[c] += wj[c] * scaled[c];
                    den[c] += wj[c];
                }
            }

            float value[3] = {v[0], v[1], v[2]};
            if (den[0] > 0 && den[1] > 0 && den[2] > 0) {
                for (size_t c = 0; c < 3; ++c) {
                    const float inv = 1 / den[c];
                    value[c] = num[c] * inv;
                    for (size_t j = 0; j < weight.size(); ++j)
                        rowShares[j][c] += weight[j][c] * inv;
                }
            } else {
                // Nothing usable, not even the choice: the selection blend's value.
                for (size_t c = 0; c < 3; ++c) {
                    rowShares[static_cast<size_t>(k)][c] += p.genuine ? 1.0f : f1;
                    if (!p.genuine) rowShares[static_cast<size_t>(k) + 1][c] += f;
                }
            }
            double* o = out.values.data() + (static_cast<size_t>(y) * w + x) * 3;
            if (in.blancoNegro) {
                double l = static_cast<double>(in.weights.r) * value[0] +
                           static_cast<double>(in.weights.g) * value[1] +
                           static_cast<double>(in.weights.b) * value[2];
                if (l < 0) l = 0;
                o[0] = o[1] = o[2] = encoded(l, static_cast<float>(l * (1.0 / 65535)), in.g);
            } else {
                for (int c = 0; c < 3; ++c)
                    o[c] = encoded(value[c], value[c] * (1.0f / 65535), in.g);
            }
        }
        // A pixel's three channel shares count for a third each.
        for (size_t j = 0; j < band.size(); ++j)
            band[j] += (static_cast<double>(rowShares[j][0]) + rowShares[j][1] + rowShares[j][2]) *
                       (1.0 / 3);
        if (y % 8 == 7 || y == h - 1)
            for (size_t j = 0; j < band.size(); ++j) {
                out.shares[j] += band[j];
                band[j] = 0;
            }
    }
    return out;
}
