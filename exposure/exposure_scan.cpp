// Pixel loops of the exposure analysis: row pointers, bands of rows across
// cores, integer accumulators so that results never depend on the thread count.
#include "exposure/exposure_scan.h"

#include "support/errors.h"
#include "support/parallel.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// Bands of about 256k pixels: enough work to outweigh a band's start-up and,
// for the median, the merge of its 8192 bins.
int bandRowsFor(int width) {
    return std::max(1, (1 << 18) / std::max(1, width));
}

void requirePair(const GflBitmap& dark, const GflBitmap& bright) {
    if (dark.empty() || bright.empty() || dark.width != bright.width ||
        dark.height != bright.height || dark.pixels.size() != dark.sampleCount() ||
        bright.pixels.size() != bright.sampleCount())
        throw RunError(kErrInvalidArgument,
                       QStringLiteral("The images of a pair must have the same, non-zero size"));
}

void requireCover(const GflBitmap& image, const CoveredRows* cover) {
    if (cover && !cover->all() &&
        (cover->begin.size() != static_cast<size_t>(image.height) ||
         cover->end.size() != static_cast<size_t>(image.height)))
        throw RunError(kErrInvalidArgument, QStringLiteral("Coverage of another image size"));
}

// out[x + 1] = 1 when pixel x of the row has a channel at its clip level;
// out[0] and out[width + 1] stand for the pixels outside the image: unclipped.
void clippedRow(const uint16_t* row, int width, const ChannelLimits& limits, uint8_t* out) {
    out[0] = 0;
    const int r = limits.clipLevel[0], g = limits.clipLevel[1], b = limits.clipLevel[2];
    for (int x = 0; x < width; ++x) {
        const uint16_t* p = row + static_cast<size_t>(x) * 3;
        out[x + 1] = (p[0] >= r) | (p[1] >= g) | (p[2] >= b);
    }
    out[width + 1] = 0;
}

// Calls rowFn(y, skip) for every centre row y of the band, where skip[x] is
// non-zero when a neighbour of (x, y) in `bright` is clipped. Looking at the
// neighbours one by one would stop at the first clipped one; only whether one
// exists matters, so the eight flags are simply or-ed. The centre pixel itself
// is not part of the test.
template <typename RowFn>
void forEachCentreRow(const GflBitmap& bright, const ChannelLimits& limits, const RowBand& band,
                      RowFn&& rowFn) {
    const int width = bright.width, height = bright.height;
    const int first = std::max(1, band.begin);
    if (width < 2 || first >= band.end) return;
    const size_t stride = static_cast<size_t>(width) + 2;
    std::vector<uint8_t> buffer(stride * 4);
    uint8_t* above = buffer.data();
    uint8_t* centre = above + stride;
    uint8_t* below = centre + stride;
    uint8_t* skip = below + stride;
    clippedRow(bright.row(first - 1), width, limits, above);
    clippedRow(bright.row(first), width, limits, centre);
    for (int y = first; y < band.end; ++y) {
        if (y + 1 < height)
            clippedRow(bright.row(y + 1), width, limits, below);
        else
            std::fill(below, below + stride, uint8_t{0});
        // Padded index x + 1 is pixel x, so x - 1, x, x + 1 are x, x + 1, x + 2.
        for (int x = 1; x < width; ++x)
            skip[x] = above[x] | above[x + 1] | above[x + 2] | centre[x] | centre[x + 2] |
                      below[x] | below[x + 1] | below[x + 2];
        rowFn(y, skip);
        uint8_t* recycled = above;
        above = centre;
        centre = below;
        below = recycled;
    }
}

const double* naturalLogs() {
    static const std::vector<double> table = [] {
        std::vector<double> t(65536);
        t[0] = 0.0;  // never used: 0 is not a usable value
        for (int v = 1; v < 65536; ++v)
            t[static_cast<size_t>(v)] = std::log(static_cast<double>(v));
        return t;
    }();
    return table.data();
}

// Table form of the bin. Error bound for 1 <= a, b <= 65535, where every
// logarithm involved is at most ln 65535 < 11.1 (ulp 2^-49 = 1.8e-15) and every
// bin position at most 11.1 * K < 16001 (ulp 2^-39 = 1.8e-12), K = 1442.69504088896:
// - the formula's value t = fl(fl(ln(fl(b / a))) * K): rounding the quotient
//   moves its logarithm by <= 1.2e-16, glibc's log is within 1 ulp (1.8e-15),
//   times K that is < 2.9e-12, and the product's rounding adds <= 0.9e-12:
//   |t - K ln(b / a)| < 4e-12;
// - the table's value s = fl(fl(L[b] - L[a]) * K) + 0.5: each L within 1 ulp,
//   the difference's rounding 0.9e-15, together < 4.5e-15, times K < 6.5e-12,
//   plus the product's and the addition's roundings (<= 0.9e-12 each):
//   |s - 0.5 - K ln(b / a)| < 8.5e-12.
// So |s - 0.5 - t| < 1.3e-11, four orders below kBinGuard. When s lies farther
// than the guard from every integer, no half-integer lies between t and
// s - 0.5, so floor(s) is nearest(t); near a half-integer the formula decides.
// An exhaustive run over all 57957^2 usable pairs found |s - 0.5 - t| <= 3.2e-12,
// 296 pairs within the guard and no pair whose bin differs from the formula's.
inline int binFromTable(const double* logs, int a, int b) {
    const double shifted = (logs[b] - logs[a]) * kBinsPerNaturalLog + 0.5;
    // t < 0.5 (up to the guard): nearest(t) <= 0, limited to bin 0. Every
    // sample whose brighter value is not brighter ends here.
    if (shifted < 1.0 - kBinGuard) return 0;
    // t > 8190.5: nearest(t) >= 8191, limited to the last bin.
    if (shifted > kHistogramBins - 0.5 + kBinGuard) return kHistogramBins - 1;
    const int whole = static_cast<int>(shifted);  // shifted > 0: truncation is floor
    const double fraction = shifted - whole;      // exact: whole >= shifted / 2
    if (fraction < kBinGuard || fraction > 1.0 - kBinGuard) return exposureBinExact(a, b);
    return whole;
}

}  // namespace

uint64_t channelSum(const GflBitmap& image) {
    if (image.empty() || image.pixels.size() != image.sampleCount())
        throw RunError(kErrInvalidArgument, QStringLiteral("Empty image"));
    std::mutex mutex;
    uint64_t total = 0;
    const size_t samplesPerRow = static_cast<size_t>(image.width) * 3;
    parallelRows(image.height, bandRowsFor(image.width), [&](const RowBand& band) {
        uint64_t sum = 0;
        for (int y = band.begin; y < band.end; ++y) {
            const uint16_t* p = image.row(y);
            // Per row in 32 bits: 3 * 65535 * width fits while width < 21845;
            // wider rows go through 64 bits directly.
            if (samplesPerRow <= 65535) {
                uint32_t rowSum = 0;
                for (size_t i = 0; i < samplesPerRow; ++i) rowSum += p[i];
                sum += rowSum;
            } else {
                for (size_t i = 0; i < samplesPerRow; ++i) sum += p[i];
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        total += sum;
    });
    return total;
}

namespace {

// Calls sample(a, b) for every channel sample of the band that the pair scan
// uses: centre pixels beside no clipped pixel of the brighter image, channels
// usable in both images.
template <typename Sample>
void forEachUsedSample(const GflBitmap& dark, const GflBitmap& bright, const CoveredRows* darkCover,
                       const CoveredRows* brightCover, const ChannelLimits& limits,
                       const RowBand& band, Sample&& sample) {
    forEachCentreRow(bright, limits, band, [&](int y, const uint8_t* skip) {
        const uint16_t* rowA = dark.row(y);
        const uint16_t* rowB = bright.row(y);
        int from = 1, to = bright.width;
        for (const CoveredRows* cover : {darkCover, brightCover})
            if (cover && !cover->all()) {
                from = std::max(from, cover->begin[static_cast<size_t>(y)]);
                to = std::min(to, cover->end[static_cast<size_t>(y)]);
            }
        for (int x = from; x < to; ++x) {
            if (skip[x]) continue;
            const uint16_t* pa = rowA + static_cast<size_t>(x) * 3;
            const uint16_t* pb = rowB + static_cast<size_t>(x) * 3;
            for (size_t c = 0; c < 3; ++c) {
                const int a = pa[c], b = pb[c];
                if (limits.usable(a, c) && limits.usable(b, c)) sample(a, b);
            }
        }
    });
}

}  // namespace

PairAverage scanPairAverage(const GflBitmap& dark, const GflBitmap& bright,
                            const CoveredRows* darkCover, const CoveredRows* brightCover,
                            const ChannelLimits& limits) {
    requirePair(dark, bright);
    requireCover(bright, darkCover);
    requireCover(bright, brightCover);
    std::mutex mutex;
    PairAverage total;
    parallelRows(bright.height, bandRowsFor(bright.width), [&](const RowBand& band) {
        PairAverage part;
        forEachUsedSample(dark, bright, darkCover, brightCover, limits, band, [&](int a, int b) {
            ++part.count;
            part.sumDark += static_cast<uint64_t>(a);
            part.sumBright += static_cast<uint64_t>(b);
        });
        std::lock_guard<std::mutex> lock(mutex);
        total.count += part.count;
        total.sumDark += part.sumDark;
        total.sumBright += part.sumBright;
    });
    return total;
}

PairMedian scanPairMedian(const GflBitmap& dark, const GflBitmap& bright,
                          const CoveredRows* darkCover, const CoveredRows* brightCover,
                          const ChannelLimits& limits) {
    requirePair(dark, bright);
    requireCover(bright, darkCover);
    requireCover(bright, brightCover);
    const double* logs = naturalLogs();
    std::mutex mutex;
    PairMedian total;
    parallelRows(bright.height, bandRowsFor(bright.width), [&](const RowBand& band) {
        std::vector<uint64_t> bins(kHistogramBins, 0);
        uint64_t count = 0;
        forEachUsedSample(dark, bright, darkCover, brightCover, limits, band, [&](int a, int b) {
            ++count;
            bins[static_cast<size_t>(binFromTable(logs, a, b))] +=
                static_cast<uint64_t>(sampleWeight(b));
        });
        std::lock_guard<std::mutex> lock(mutex);
        total.count += count;
        for (int i = 0; i < kHistogramBins; ++i)
            total.bins[static_cast<size_t>(i)] += bins[static_cast<size_t>(i)];
    });
    return total;
}

int exposureBinExact(int a, int b) {
    const double t = std::log(static_cast<double>(b) / static_cast<double>(a)) * kBinsPerNaturalLog;
    const double nearest = std::nearbyint(t);  // halves to even
    if (!(nearest >= 0.0)) return 0;           // ratios below 1 (and ln 0 = -inf)
    if (nearest > kHistogramBins - 1) return kHistogramBins - 1;
    return static_cast<int>(nearest);
}

int exposureBin(int a, int b) {
    if (a < 1 || b < 1 || a > 65535 || b > 65535) return exposureBinExact(a, b);
    return binFromTable(naturalLogs(), a, b);
}

double exposureBinPosition(int a, int b) {
    const double* logs = naturalLogs();
    return (logs[b] - logs[a]) * kBinsPerNaturalLog;
}

uint64_t histogramTotal(const std::vector<uint64_t>& bins) {
    uint64_t total = 0;
    for (uint64_t v : bins) total += v;
    return total;
}

int histogramMedian(const std::vector<uint64_t>& bins) {
    const uint64_t total = histogramTotal(bins);
    if (total == 0) return -1;
    uint64_t cumulative = 0;
    for (size_t m = 0; m < bins.size(); ++m) {
        cumulative += bins[m];
        if (2 * cumulative >= total) return static_cast<int>(m);
    }
    return static_cast<int>(bins.size()) - 1;  // not reached: the loop ends at total
}
