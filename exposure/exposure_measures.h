// The exposure sort and the relative exposures as computations on a set's
// frames: the ranking by mean level, and the factor of each neighbouring pair.
#pragma once

#include "exposure/exposure_scan.h"
#include "set/frame_set.h"

#include <cstdint>
#include <vector>

// Mean channel level of an image whose channels sum to `sum`, in percent of
// full scale to one decimal (halves to even).
double meanLevelPercent(uint64_t sum, double width, double height);

// Load positions (1-based) from the darkest to the brightest. Of equal sums
// the one loaded first ranks as the brighter.
std::vector<int16_t> rankByExposure(const std::vector<uint64_t>& sums);

// Moves the decoded frames, their paths and stamps into ranked order: the same
// images a second decoding from disk would give, without the time or the
// chance of a file failing half-way.
void reorderFrames(FrameSet& set, const std::vector<int16_t>& order);

// Why a pair's exposure ratio cannot be measured.
enum class ExposureGap { Measured, TooWide, TooNarrow };

// The relative exposure of image k (2..n) from the pair (k - 1, k).
struct PairExposure {
    ExposureGap gap = ExposureGap::Measured;
    double factor = 0;   // image k's factor to image 1's exposure
    uint64_t count = 0;  // channel samples used
    PairMedian median;   // Median method: the histogram of the pair
    int medianBin = 0;
};

// Measures image k of a loaded, sorted set against image k - 1, whose factor
// is `previous`: the ratio of sums (`average`) or the median of log ratios.
// Samples a frame did not cover in an aligned set are no samples; `limits`
// say which samples are usable.
PairExposure measurePairExposure(const FrameSet& set, int k, bool average, double previous,
                                 const ChannelLimits& limits = {});

// The share of channel samples a pair used, in percent of the image to one
// decimal, as the log shows it.
double usedLevelPercent(uint64_t count, double width, double height);
