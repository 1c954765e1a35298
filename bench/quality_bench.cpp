// The merges' quality on a 3000 x 2000 bracket and its noise-free twin: the
// table of signal to noise per stop for both merges, printed once, with the
// time of each blend and of HDRMerge on the same RAW files when installed.
#include "bench/merge_quality.h"

#include <benchmark/benchmark.h>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// args: width, height.
void BM_MergeQuality(benchmark::State& state) {
    const QualityRun run{static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 1,
                         true};
    for (auto _ : state) {
        QTemporaryDir dir;
        const MergeQuality q = measureMergeQuality(run, dir.path());
        std::printf("\n%s\n", qPrintable(qualityTable(q)));
        double worst = 1e9;
        for (const QualityBand& b : q.bands) worst = std::min(worst, b.weighted - b.select);
        state.counters["worst_stop_gain_dB"] = worst;
        state.counters["seam_select_pct"] = q.seamSelect;
        state.counters["seam_weighted_pct"] = q.seamWeighted;
        state.counters["select_s"] = q.selectSeconds;
        state.counters["weighted_s"] = q.weightedSeconds;
        if (q.hdrmergeSeconds >= 0) state.counters["hdrmerge_s"] = q.hdrmergeSeconds;
    }
}
BENCHMARK(BM_MergeQuality)
    ->ArgNames({"w", "h"})
    ->Args({3000, 2000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// A warm sky and lamp, whose red clips through the white balance long before
// green: each frame's top stop, Select and Weighted, developed without and
// with headroom (the latter brought back by the largest multiplier).
void BM_MergeQualityHeadroom(benchmark::State& state) {
    for (auto _ : state) {
        for (const bool headroom : {false, true}) {
            QualityRun run{static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 1,
                           false};
            run.warm = true;
            run.headroom = headroom;
            QTemporaryDir dir;
            const MergeQuality q = measureMergeQuality(run, dir.path());
            std::printf("\nwarm scene, %s headroom\n%s\n", headroom ? "with" : "without",
                        qPrintable(qualityTable(q)));
            for (size_t k = 0; k < q.topStops.size(); ++k)
                for (const QualityBand& b : q.bands)
                    if (b.index == q.topStops[k]) {
                        const std::string name = std::string(headroom ? "headroom_" : "plain_") +
                                                 "frame" + std::to_string(k + 2);
                        state.counters[name + "_select_dB"] = b.select;
                        state.counters[name + "_weighted_dB"] = b.weighted;
                    }
        }
    }
}
BENCHMARK(BM_MergeQualityHeadroom)
    ->ArgNames({"w", "h"})
    ->Args({3000, 2000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
