// Exposure analysis on a synthetic bracket of 5 frames of 6000 x 4000 written
// once as uncompressed 16-bit TIFF: the whole "Calc EV" run per stage, and the
// pair scans in megapixels per second, on one thread and on every core.
#include "bench/bench_files.h"
#include "pipeline/calc_ev.h"
#include "exposure/exposure_scan.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"


#include <benchmark/benchmark.h>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
// Shuffled on disk so the sort has work to do; about 1.4 EV between frames.
constexpr double kGains[] = {7.0, 1.0, 19.0, 2.7, 50.0};
constexpr int kFrames = 5;

// The bracket on disk, made on first use and removed at exit.
struct Bracket {
    QTemporaryDir dir;
    QString folder;
    QStringList raws;
    GflBitmap darker, brighter;  // one neighbouring pair for the scan cases
};

const Bracket& bracket() {
    static const std::unique_ptr<Bracket> b = [] {
        auto made = std::make_unique<Bracket>();
        made->folder = made->dir.path() + QStringLiteral("/");
        for (int i = 0; i < kFrames; ++i) {
            GflBitmap image = syntheticFrame(kWidth, kHeight, kGains[i], static_cast<uint32_t>(i + 1));
            writeUncompressedTiff(image, made->folder + QStringLiteral("IMG_%1.tiff").arg(i + 1));
            made->raws << QStringLiteral("IMG_%1.CR2").arg(i + 1);
            if (kGains[i] == 1.0)
                made->darker = std::move(image);
            else if (kGains[i] == 2.7)
                made->brighter = std::move(image);
        }
        return made;
    }();
    return *b;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// args: method (1 Average, 0 Median), threads (0 = one per core).
void BM_CalcEV(benchmark::State& state) {
    const Bracket& b = bracket();
    const bool metodoMedia = state.range(0) == 1;
    setParallelThreads(static_cast<int>(state.range(1)));
    const QString ref = b.folder + b.raws[0];
    double load = 0, sort = 0, measure = 0;
    for (auto _ : state) {
        RecordingReporter reporter;
        ImageSet set;
        auto t0 = std::chrono::steady_clock::now();
        if (CargarTIFFs(ref, b.raws, set, reporter) != kFrames) state.SkipWithError("load failed");
        load += secondsSince(t0);
        t0 = std::chrono::steady_clock::now();
        OrdenarPorExposicion(true, set, reporter);
        sort += secondsSince(t0);
        t0 = std::chrono::steady_clock::now();
        if (CalcularExpRelativas(ref, metodoMedia, set, reporter) != 1)
            state.SkipWithError("measurement failed");
        measure += secondsSince(t0);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["load_s"] = load / n;
    state.counters["sort_s"] = sort / n;
    state.counters["relative_s"] = measure / n;
    state.counters["pairs_MP/s"] = (kFrames - 1) * kWidth * kHeight / 1e6 / (measure / n);
    setParallelThreads(0);
}
BENCHMARK(BM_CalcEV)
    ->ArgNames({"average", "threads"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_PairScanMedian(benchmark::State& state) {
    const Bracket& b = bracket();
    setParallelThreads(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(scanPairMedian(b.darker, b.brighter));
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(kWidth) * kHeight / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
    setParallelThreads(0);
}
BENCHMARK(BM_PairScanMedian)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_PairScanAverage(benchmark::State& state) {
    const Bracket& b = bracket();
    setParallelThreads(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(scanPairAverage(b.darker, b.brighter));
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(kWidth) * kHeight / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
    setParallelThreads(0);
}
BENCHMARK(BM_PairScanAverage)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ChannelSum(benchmark::State& state) {
    const Bracket& b = bracket();
    setParallelThreads(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(channelSum(b.brighter));
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(kWidth) * kHeight / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
    setParallelThreads(0);
}
BENCHMARK(BM_ChannelSum)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
