// The pixel measurements behind the exposure sort and the relative exposures:
// channel sums, the pair scan with its neighbour test, and the log-ratio bins
// of the median histogram.
#pragma once

#include "set/frame_set.h"
#include "set/levels.h"
#include "support/gfl_bitmap.h"

#include <cstdint>
#include <vector>

// Median histogram: bin b stands for a log2 ratio of b / 1000, 0 to 8.191 EV.
constexpr int kHistogramBins = 8192;
constexpr double kBinsPerNaturalLog = 1442.69504088896;  // 1000 / ln 2

// Sum of R + G + B over every pixel; exact (a 2^28-pixel image sums to < 2^46).
uint64_t channelSum(const GflBitmap& image);

// Totals of one pair scan. Integer sums make them independent of how the rows
// are split across threads; as doubles they are exactly the sums a sequential
// double accumulation gives, since every partial sum stays below 2^53.
struct PairAverage {
    uint64_t count = 0;      // channel samples used
    uint64_t sumDark = 0;    // sum of the darker image's used values
    uint64_t sumBright = 0;  // sum of the brighter image's used values
};

struct PairMedian {
    uint64_t count = 0;  // channel samples used
    // Weighted counts per bin. 64-bit: a large sensor can exceed 2^31 in one bin.
    std::vector<uint64_t> bins = std::vector<uint64_t>(kHistogramBins, 0);
};

// Pair scans of two images of the same, non-zero size (throws otherwise). The
// centre pixels are x = 1..W-1, y = 1..H-1 (row 0 is the top row as stored);
// a centre pixel is skipped when one of its eight neighbours in the brighter
// image is clipped (neighbours outside the image count as unclipped); of the
// others every channel whose value is usable in both images is one sample.
// With coverage lists (an aligned set), a centre pixel that either image did
// not cover gives no sample. `limits` say what is usable and what clipped.
PairAverage scanPairAverage(const GflBitmap& dark, const GflBitmap& bright,
                            const CoveredRows* darkCover = nullptr,
                            const CoveredRows* brightCover = nullptr,
                            const ChannelLimits& limits = {});
PairMedian scanPairMedian(const GflBitmap& dark, const GflBitmap& bright,
                          const CoveredRows* darkCover = nullptr,
                          const CoveredRows* brightCover = nullptr,
                          const ChannelLimits& limits = {});

// Bin of one sample, a = darker value, b = brighter value, both 1..65535:
// nearest(ln(b / a) * 1442.69504088896), halves to even, limited to 0..8191.
// exposureBinExact evaluates exactly that; exposureBin gives the same result
// faster from a table of logarithms (see the bound in exposure_scan.cpp).
int exposureBinExact(int a, int b);
int exposureBin(int a, int b);
// The table's estimate of ln(b / a) * 1442.69504088896, for checking its error.
double exposureBinPosition(int a, int b);
// Distance from a half-integer below which exposureBin falls back to the formula.
constexpr double kBinGuard = 1e-7;

// Weight of a sample by the brighter value: 1 + floor(16 * b / 65535), 1..16.
inline int sampleWeight(int b) {
    return 1 + (16 * b) / 65535;
}

// Sum of all bins.
uint64_t histogramTotal(const std::vector<uint64_t>& bins);
// Smallest bin m such that bins 0..m hold at least half of the total
// (2 * cumulative >= total, no rounding); -1 for an empty histogram.
int histogramMedian(const std::vector<uint64_t>& bins);
