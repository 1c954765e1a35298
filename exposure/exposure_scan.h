// The pixel measurements behind the exposure sort and the relative exposures:
// channel sums, the pair scan with its neighbour test, and the log-ratio bins
// of the median histogram.
#pragma once

#include "exposure/image_set.h"
#include "support/gfl_bitmap.h"

#include <cstdint>
#include <vector>

// A channel value is usable from 1025 to 58981: below is noise, above is near
// clipping (58982 is 90 % of 65535). A neighbour with any channel at 58982 or
// more counts as clipped.
constexpr int kUsableMin = 1025;
constexpr int kUsableMax = 58981;
constexpr int kClipLevel = 58982;

// Median histogram: bin b stands for a log2 ratio of b / 1000, 0 to 8.191 EV.
constexpr int kHistogramBins = 8192;
constexpr double kBinsPerNaturalLog = 1442.69504088896;  // 1000 / ln 2

inline bool usableChannel(int v) {
    return static_cast<unsigned>(v - kUsableMin) <= static_cast<unsigned>(kUsableMax - kUsableMin);
}

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
// not cover gives no sample.
PairAverage scanPairAverage(const GflBitmap& dark, const GflBitmap& bright,
                            const CoveredRows* darkCover = nullptr,
                            const CoveredRows* brightCover = nullptr);
PairMedian scanPairMedian(const GflBitmap& dark, const GflBitmap& bright,
                          const CoveredRows* darkCover = nullptr,
                          const CoveredRows* brightCover = nullptr);

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
