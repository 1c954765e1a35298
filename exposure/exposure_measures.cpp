// Ranking frames by exposure and measuring each neighbouring pair's ratio.
#include "exposure/exposure_measures.h"

#include "support/numbers.h"

#include <cmath>

double meanLevelPercent(uint64_t sum, double width, double height) {
    return roundHalfEven(static_cast<double>(sum) / 3 / 65535 / width / height * 1000) / 10;
}

std::vector<int16_t> rankByExposure(const std::vector<uint64_t>& totals) {
    const int n = static_cast<int>(totals.size());
    // Exact integer sums; -1 marks an image already ranked.
    std::vector<int64_t> sums(totals.begin(), totals.end());
    // From the brightest down; of equal sums the one loaded first ranks as
    // the brighter (the strict > keeps the lowest position).
    std::vector<int16_t> order(static_cast<size_t>(n));
    for (int pos = n; pos >= 1; --pos) {
        int best = -1;
        for (int i = 0; i < n; ++i)
            if (sums[static_cast<size_t>(i)] >= 0 &&
                (best < 0 || sums[static_cast<size_t>(i)] > sums[static_cast<size_t>(best)]))
                best = i;
        order[static_cast<size_t>(pos) - 1] = static_cast<int16_t>(best + 1);
        sums[static_cast<size_t>(best)] = -1;
    }
    return order;
}

void reorderFrames(FrameSet& set, const std::vector<int16_t>& order) {
    const size_t n = order.size();
    const QStringList paths = set.ArchivosTIFF;
    std::vector<FileStamp> stamps = set.SellosTIFF;
    stamps.resize(n);
    set.SellosTIFF.assign(n, FileStamp());
    std::vector<GflBitmap> images = std::move(set.ImagenesTIFF);
    set.ImagenesTIFF.clear();
    set.ImagenesTIFF.resize(n);
    for (size_t k = 0; k < n; ++k) {
        const int from = order[k] - 1;
        set.ArchivosTIFF[static_cast<qsizetype>(k)] = paths[from];
        set.SellosTIFF[k] = stamps[static_cast<size_t>(from)];
        set.ImagenesTIFF[k] = std::move(images[static_cast<size_t>(from)]);
    }
}

PairExposure measurePairExposure(const FrameSet& set, int k, bool average, double previous,
                                 const ChannelLimits& limits) {
    const GflBitmap& dark = set.ImagenesTIFF[static_cast<size_t>(k) - 2];
    const GflBitmap& bright = set.ImagenesTIFF[static_cast<size_t>(k) - 1];
    const bool aligned = set.Cobertura.size() == set.ImagenesTIFF.size();
    const CoveredRows* darkCover = aligned ? &set.Cobertura[static_cast<size_t>(k) - 2] : nullptr;
    const CoveredRows* brightCover = aligned ? &set.Cobertura[static_cast<size_t>(k) - 1] : nullptr;
    PairExposure p;
    if (average) {
        const PairAverage sums = scanPairAverage(dark, bright, darkCover, brightCover, limits);
        p.count = sums.count;
        if (sums.sumBright == 0) {
            p.gap = ExposureGap::TooWide;
        } else if (sums.sumDark > sums.sumBright) {
            p.gap = ExposureGap::TooNarrow;
        } else {
            p.factor =
                static_cast<double>(sums.sumDark) / static_cast<double>(sums.sumBright) * previous;
        }
        return p;
    }
    p.median = scanPairMedian(dark, bright, darkCover, brightCover, limits);
    p.count = p.median.count;
    p.medianBin = histogramMedian(p.median.bins);
    if (p.medianBin < 0)
        p.gap = ExposureGap::TooWide;
    else
        p.factor = previous / std::pow(2.0, p.medianBin / 1000.0);
    return p;
}

double usedLevelPercent(uint64_t count, double width, double height) {
    return roundHalfEven(static_cast<double>(count) / width / height / 3 * 1000) / 10;
}
