// The quality of the two merges against the truth: a synthetic bracket, its
// noise-free twin, both developed by dcraw, and the signal-to-noise ratio of
// each merge per stop of brightness. Shared by the benchmark and its CI test.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

struct QualityRun {
    int width = 600;
    int height = 400;
    uint64_t seed = 1;
    bool timePeers = false;  // also time HDRMerge on the bracket, when installed
    bool warm = false;       // a warm sky and lamp whose red clips through the white balance
    bool headroom = false;   // develop with headroom (-H 1) and build the map for it
};

// One stop of the truth's luminance: (65535 / 2^(index + 1), 65535 / 2^index].
// With headroom the output is darker by the largest white-balance multiplier;
// the truth and both merges are brought back by it, so that the stops are
// those of a run without headroom.
struct QualityBand {
    int index = 0;
    long long pixels = 0;
    int usableFrames = 0;  // frames under the map threshold in some of the stop
    double select = 0;     // 20 log10(mean / RMS error), dB
    double weighted = 0;
    double firstFrame = 0;  // the least exposed frame alone
};

struct MergeQuality {
    std::vector<QualityBand> bands;  // stops holding enough pixels to measure
    std::vector<int> topStops;       // per frame from the second: the band of its top stop
    // Largest mean error over a 9 x 9 window of smooth truth, in percent of
    // the window's level.
    double seamSelect = 0;
    double seamWeighted = 0;
    QString noiseModel;  // the weighted blend's noise-model line
    // Seconds of each blend ("Colour" at gamma 1.0, one file), and of
    // HDRMerge merging the RAW files (-1 when not timed).
    double selectSeconds = 0;
    double weightedSeconds = 0;
    double hdrmergeSeconds = -1;
};

// Makes the 0/+2/+4 EV bracket and its twin in `folder`, develops them,
// blends the bracket both ways at gamma 1.0 and measures. Throws
// std::runtime_error when a step fails.
MergeQuality measureMergeQuality(const QualityRun& run, const QString& folder);

// The figures as a table, one line per band, then the summaries.
QString qualityTable(const MergeQuality& quality);
