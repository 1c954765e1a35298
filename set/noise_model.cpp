// Measuring where each image's channels saturate and how noisy they are.
#include "set/noise_model.h"

#include "support/errors.h"
#include "support/parallel.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// The histograms and the noise read evenly spaced rows holding about this
// many pixels: plenty for both, and a small share of a large frame's cost.
constexpr double kHistogramPixels = 500e3;
constexpr double kNoisePixels = 300e3;

int rowStep(const GflBitmap& image, double pixelsPerRow, double wanted) {
    const double rows = wanted / std::max(pixelsPerRow, 1.0);
    return std::max(1, static_cast<int>(image.height / std::max(rows, 1.0)));
}
// Levels below a quarter of the scale are never taken for saturation: dcraw
// puts it there only with extreme settings, and a dark, flat scene could
// otherwise pass its one grey for a clip level.
constexpr int kLowestClip = 16384;

// Shot-noise stand-in when nothing can be measured: a sensor whose full scale
// holds 10000 electrons. Only the consistency test reads this scale; the
// weights it gives are proportional to exposure whatever it is.
constexpr double kFallbackA = 65535.0 / 10000.0;
// A 16-bit sample carries at least its rounding: 1/12 of a unit squared.
constexpr double kRoundingVariance = 1.0 / 12.0;

// Noise bins: quarter stops of the darker image's expected value, from 16
// units (below, dcraw's clipping of negative values at 0 distorts the
// spread) up to the top of the scale.
constexpr int kBinsPerStop = 4;
constexpr float kLowestSignal = 16;
constexpr int kBins = 12 * kBinsPerStop;  // 2^4 .. 2^16

// The bin of a signal from 16 up: its octave and the quarter of the octave it
// falls in, read from the bits of its single-precision form.
int binOf(float signal) {
    const int quarters =
        static_cast<int>(std::bit_cast<uint32_t>(signal) >> 21);  // 4 * (127 + octave) + quarter
    return std::min(kBins - 1, quarters - 4 * (127 + 4));
}
constexpr size_t kMinBinSamples = 64;
// The brighter image of a pair is used up to this share of its clip level.
constexpr double kWellExposed = 0.9;

std::array<std::vector<uint32_t>, 3> histograms(const GflBitmap& image) {
    std::array<std::vector<uint32_t>, 3> h;
    for (auto& c : h) c.assign(65536, 0);
    const int step = rowStep(image, image.width, kHistogramPixels);
    for (int y = step / 2; y < image.height; y += step) {
        const uint16_t* p = image.row(y);
        for (int x = 0; x < image.width; ++x, p += 3) {
            ++h[0][p[0]];
            ++h[1][p[1]];
            ++h[2][p[2]];
        }
    }
    return h;
}

double median(std::vector<float>& v) {
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// Spread of one bin's differences: a median and the median absolute deviation
// around it, so that edges where the two developments differ and anything
// that moved between the frames do not count.
double robustVariance(std::vector<float>& d) {
    const double centre = median(d);
    for (float& x : d) x = static_cast<float>(std::fabs(x - centre));
    const double sigma = 1.482602 * median(d);
    return sigma * sigma;
}

// Each image's pile-up level per channel (0: none), the images read side by side.
std::vector<std::array<int, 3>> pileUps(const FrameSet& set) {
    std::vector<std::array<int, 3>> found(set.ImagenesTIFF.size());
    parallelRows(static_cast<int>(found.size()), 1, [&](const RowBand& band) {
        const auto h = histograms(set.ImagenesTIFF[static_cast<size_t>(band.begin)]);
        for (size_t c = 0; c < 3; ++c)
            found[static_cast<size_t>(band.begin)][c] = pileUpLevel(h[c]);
    });
    return found;
}

// Per channel the lowest level any image piles up at (0: none does). One
// development clips every frame's channel at one level; an image too dark to
// clip shows none.
std::array<int, 3> commonLevels(const std::vector<std::array<int, 3>>& found) {
    std::array<int, 3> common{};
    for (size_t c = 0; c < 3; ++c)
        for (const auto& image : found)
            if (image[c] > 0) common[c] = common[c] == 0 ? image[c] : std::min(common[c], image[c]);
    return common;
}

}  // namespace

int pileUpLevel(const std::vector<uint32_t>& counts) {
    uint64_t total = 0;
    for (uint32_t c : counts) total += c;
    int peak = 65535;
    for (int v = 65535; v >= kLowestClip; --v)
        if (counts[static_cast<size_t>(v)] > counts[static_cast<size_t>(peak)]) peak = v;
    const uint64_t top = counts[static_cast<size_t>(peak)];
    // A pile-up is a spike well above the values leading up to it, and those
    // values exist: clipped highlights fade into it. One uniform grey is no
    // pile-up, nor a handful of samples.
    uint64_t below = 0;
    const int from = std::max(kLowestClip, peak - 1024);
    for (int v = from; v <= peak - 3; ++v) below += counts[static_cast<size_t>(v)];
    const int span = std::max(1, peak - 2 - from);
    if (top < 64 || top * 10000 < total || below == 0 || top < 16 * below / span) return 0;
    // Rounding in dcraw's colour conversion can spread the spike over a few
    // neighbouring values: it starts at the lowest of them that still holds
    // an eighth of the peak.
    int start = peak;
    while (start > kLowestClip && counts[static_cast<size_t>(start) - 1] * 8 >= top) --start;
    return start;
}

PairNoise measurePairNoise(const GflBitmap& darker, const GflBitmap& brighter, double ratio,
                           const std::array<double, 3>& brighterClip, const CoveredRows* darkerSeen,
                           const CoveredRows* brighterSeen) {
    PairNoise result;
    if (!(ratio > 1) || darker.width != brighter.width || darker.height != brighter.height)
        return result;
    struct Bin {
        std::vector<float> d;
        double sumSignal = 0;
    };
    std::array<std::array<Bin, kBins>, 3> bins;
    std::array<double, 3> wellExposed{};
    for (size_t c = 0; c < 3; ++c) wellExposed[c] = kWellExposed * brighterClip[c];
    // Every other column of the sampled rows, a few pixels clear of the
    // borders, where demosaicing has less to go on.
    const int step = rowStep(darker, darker.width / 2.0, kNoisePixels);
    const float inverseRatio = static_cast<float>(1 / ratio);
    for (int y = step / 2; y < darker.height - 4; y += step) {
        const uint16_t* pd = darker.row(y);
        const uint16_t* pb = brighter.row(y);
        for (int x = 4; x < darker.width - 4; x += 2) {
            if ((darkerSeen && !darkerSeen->covers(x, y)) ||
                (brighterSeen && !brighterSeen->covers(x, y)))
                continue;
            const uint16_t* sd = pd + x * 3;
            const uint16_t* sb = pb + x * 3;
            if (sb[0] > wellExposed[0] || sb[1] > wellExposed[1] || sb[2] > wellExposed[2])
                continue;
            for (size_t c = 0; c < 3; ++c) {
                // The brighter image's value brought to the darker exposure
                // is the less noisy estimate of the darker one's signal.
                const float signal = sb[c] * inverseRatio;
                if (signal < kLowestSignal) continue;
                Bin& b = bins[c][static_cast<size_t>(binOf(signal))];
                b.d.push_back(static_cast<float>(sd[c] - signal));
                b.sumSignal += signal;
            }
        }
    }
    // Both images share a = shot, b = read noise, so the difference of the
    // darker sample and the scaled brighter one has the variance
    // a u (1 + 1/r) + b (1 + 1/r^2) at the darker signal u: a straight line in
    // u, fitted by least squares with each bin weighted by its precision.
    for (size_t c = 0; c < 3; ++c) {
        double sw = 0, su = 0, sv = 0, suu = 0, suv = 0, lowest = 0, highest = 0;
        int used = 0;
        for (Bin& b : bins[c]) {
            if (b.d.size() < kMinBinSamples) continue;
            const double u = b.sumSignal / static_cast<double>(b.d.size());
            const double v = robustVariance(b.d);
            if (!(v > 0)) continue;
            const double w = static_cast<double>(b.d.size()) / (v * v);
            sw += w;
            su += w * u;
            sv += w * v;
            suu += w * u * u;
            suv += w * u * v;
            lowest = used == 0 ? u : std::min(lowest, u);
            highest = std::max(highest, u);
            ++used;
        }
        // A line needs a few bins over two stops at least.
        if (used < 3 || highest < 4 * lowest) return PairNoise{};
        const double det = sw * suu - su * su;
        double slope = det > 0 ? (sw * suv - su * sv) / det : 0;
        double intercept = det > 0 ? (sv - slope * su) / sw : -1;
        if (intercept < 0) {  // no read noise to speak of: a line through 0
            intercept = 0;
            slope = suv / suu;
        }
        if (!(slope > 0)) return PairNoise{};
        result.channel[c].a = slope / (1 + 1 / ratio);
        result.channel[c].b = intercept / (1 + 1 / (ratio * ratio));
    }
    result.measured = true;
    return result;
}

WeightedModel measureWeightedModel(const FrameSet& set) {
    if (!set.usable())
        throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
    const size_t n = set.ImagenesTIFF.size();
    WeightedModel model;

    // Saturation. With dcraw's -4 every channel is scaled by its white-balance
    // multiplier and clipped at full scale, then converted to the output
    // colours and rounded: where a channel saturates depends on the camera's
    // raw white, the multipliers, a -S level, a highlight mode and the
    // colour matrix, and the settings say only some of that. The image itself
    // says all of it: every clipped sample lands on the same few values, a
    // spike at the top of its histogram. An image without one (it clipped
    // nowhere) takes the level its neighbours show, and full scale when none does.
    const std::vector<std::array<int, 3>> found = pileUps(set);
    const std::array<int, 3> common = commonLevels(found);
    model.clipLevel.resize(n);
    for (size_t c = 0; c < 3; ++c)
        for (size_t k = 0; k < n; ++k)
            model.clipLevel[k][c] = found[k][c] > 0 ? found[k][c] : common[c] > 0 ? common[c] : 65535;

    // Noise, from each pair of neighbours; an image takes the mean of its
    // pairs, one without a measured pair the mean of all.
    std::vector<PairNoise> pairs(n - 1);
    parallelRows(static_cast<int>(n) - 1, 1, [&](const RowBand& band) {
        const size_t k = static_cast<size_t>(band.begin);
        const bool aligned = set.Cobertura.size() == n;
        pairs[k] = measurePairNoise(set.ImagenesTIFF[k], set.ImagenesTIFF[k + 1],
                                    set.ExpRelativas[k] / set.ExpRelativas[k + 1],
                                    model.clipLevel[k + 1], aligned ? &set.Cobertura[k] : nullptr,
                                    aligned ? &set.Cobertura[k + 1] : nullptr);
    });
    auto meanOf = [&](size_t first, size_t last, std::array<ChannelNoise, 3>& out) {
        int count = 0;
        out = {};
        for (size_t p = first; p <= last && p < pairs.size(); ++p) {
            if (!pairs[p].measured) continue;
            for (size_t c = 0; c < 3; ++c) {
                out[c].a += pairs[p].channel[c].a;
                out[c].b += pairs[p].channel[c].b;
            }
            ++count;
        }
        for (auto& ch : out) {
            ch.a /= std::max(count, 1);
            ch.b /= std::max(count, 1);
        }
        return count > 0;
    };
    std::array<ChannelNoise, 3> all{};
    model.measured = meanOf(0, pairs.size() - 1, all);
    model.noise.resize(n);
    for (size_t k = 0; k < n; ++k) {
        if (!model.measured) {
            for (auto& ch : model.noise[k]) ch = {kFallbackA, 0};
        } else if (!meanOf(k == 0 ? 0 : k - 1, k, model.noise[k])) {
            model.noise[k] = all;
        }
        for (auto& ch : model.noise[k]) ch.b = std::max(ch.b, kRoundingVariance);
    }
    return model;
}

std::array<int, 3> setClipLevels(const FrameSet& set) {
    if (!set.usable())
        throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
    std::array<int, 3> levels = commonLevels(pileUps(set));
    for (int& level : levels)
        if (level == 0) level = 65535;
    return levels;
}
