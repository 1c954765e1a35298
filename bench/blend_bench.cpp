// The blend on five 6000 x 4000 frames through a map built at the default
// settings: each stage timed apart from the status log, and the peak memory
// the blend adds to the loaded set.
#include "bench/bench_files.h"
#include "bench/bench_timing.h"
#include "blend/blend.h"
#include "pipeline/blend_stage.h"
#include "blend/blend_internal.h"
#include "blend/weighted.h"
#include "maps/maps.h"
#include "support/parallel.h"

#include <benchmark/benchmark.h>
#include <QDir>
#include <QFile>

namespace {

const QString& benchMap() { return benchBracketMap(); }

// The per-pixel blend's inputs for the bench bracket through `map`.
BlendInput benchBlendInput(const MapLevels& map, bool blancoNegro) {
    BenchBracket& b = benchBracket();
    const std::vector<float>& t = b.set.TablaMapa;
    BlendInput in{b.set, map.red, b.set.ExpRelativas, inverseGamma(22), blancoNegro,
                  mixWeights(33, 33)};
    for (size_t l = 0; l < 256; ++l) {
        const int k = static_cast<int>(t[l]);
        in.levels[l] = {k, t[l] - static_cast<float>(k), static_cast<float>(k) == t[l], true};
    }
    return in;
}

void removeOutputs(const QString& folder) {
    for (const QString& f : QDir(folder).entryList({QStringLiteral("OD*.tif")}, QDir::Files))
        QFile::remove(folder + f);
}

// args: B&W, ETTR, bracket count, weighted merge.
void BM_Blend(benchmark::State& state) {
    BenchBracket& b = benchBracket();
    BlendSettings s;
    s.rutaMapa = benchMap();
    s.perfil = QStringLiteral("sRGB");
    s.gamma = 22;
    s.blancoNegro = state.range(0) != 0;
    s.ettr = state.range(1) != 0;
    s.numBracketing = static_cast<int>(state.range(2));
    s.merge = state.range(3) != 0 ? BlendMerge::Weighted : BlendMerge::Select;
    double classify = 0, pb = 0, blend = 0, write = 0, total = 0;
    long long added = 0;
    for (auto _ : state) {
        removeOutputs(b.folder);
        const long long before = residentBytes();
        resetPeakMemory();
        TimingReporter rep;
        const auto t0 = std::chrono::steady_clock::now();
        if (FusionarImagenes(b.reference(), s, b.set, rep) != 1) state.SkipWithError("blend failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        added = std::max(added, peakResidentBytes() - before);
        classify += rep.secondsAfter(QStringLiteral("Loading blending map..."));  // load + classify
        pb += rep.secondsAfter(QStringLiteral("Saving PNG progressive map"));
        // Image 1's reload check, ETTR and the per-pixel blend.
        blend += rep.secondsBetween(QStringLiteral("Image contribution..."),
                                    QStringLiteral("Building output file")) -
                 rep.secondsAfter(QStringLiteral("Saving PNG progressive map"));
        // Each file's samples are quantised inside its TIFF write, strip by
        // strip (BM_QuantiseOnly times that part alone); a single file's rows
        // are blended there too, so its blend_s is only the tables' set-up.
        // The weighted merge blends every row before the first file (its
        // shares are told first), so its blend_s holds all of its work.
        for (int o = 0; o < s.numBracketing; ++o)
            write += rep.secondsAfter(QStringLiteral("Saving image as "), o);
    }
    const double it = static_cast<double>(state.iterations());
    state.counters["map+classify_s"] = classify / it;
    state.counters["pb_png_s"] = pb / it;
    state.counters["blend_s"] = blend / it;
    state.counters["output_s_per_file"] = write / it / s.numBracketing;
    state.counters["total_s"] = total / it;
    state.counters["peak_added_B/px"] =
        static_cast<double>(added) / (static_cast<double>(kBenchWidth) * kBenchHeight);
    removeOutputs(b.folder);
}
BENCHMARK(BM_Blend)
    ->ArgNames({"bw", "ettr", "files", "weighted"})
    ->Args({0, 0, 1, 0})
    ->Args({0, 0, 1, 1})
    ->Args({1, 1, 1, 0})
    ->Args({1, 1, 1, 1})
    ->Args({0, 0, 7, 0})
    ->Args({0, 0, 7, 1})
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

namespace {
// The per-pixel blend alone (args: B&W), without the map load and the files.
void BM_BlendPlanesOnly(benchmark::State& state) {
    const MapLevels map = loadMapLevels(benchMap(), QSize(kBenchWidth, kBenchHeight), false);
    const BlendInput in = benchBlendInput(map, state.range(0) != 0);
    const RowBlender blender(in);
    for (auto _ : state) benchmark::DoNotOptimize(blendPlanes(blender));
}
BENCHMARK(BM_BlendPlanesOnly)
    ->ArgName("bw")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The weighted merge's two stages alone: measuring clip levels and noise on
// the set, and the per-pixel blend into planes (args: B&W).
void BM_WeightedModel(benchmark::State& state) {
    BenchBracket& b = benchBracket();
    for (auto _ : state) benchmark::DoNotOptimize(measureWeightedModel(b.set));
}
BENCHMARK(BM_WeightedModel)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();

void BM_WeightedPlanesOnly(benchmark::State& state) {
    const MapLevels map = loadMapLevels(benchMap(), QSize(kBenchWidth, kBenchHeight), false);
    const BlendInput in = benchBlendInput(map, state.range(0) != 0);
    const WeightedModel model = measureWeightedModel(benchBracket().set);
    const WeightedBlender blender(in, model);
    for (auto _ : state) benchmark::DoNotOptimize(blendWeighted(blender, true));
}
BENCHMARK(BM_WeightedPlanesOnly)
    ->ArgName("bw")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// One file's quantisation alone: every row of the planes made into 16-bit
// samples on all cores, as the TIFF writer makes them strip by strip.
void BM_QuantiseOnly(benchmark::State& state) {
    const MapLevels map = loadMapLevels(benchMap(), QSize(kBenchWidth, kBenchHeight), false);
    const BlendInput in = benchBlendInput(map, false);
    const OutputPlanes planes = blendPlanes(RowBlender(in));
    const RgbRows rows = quantizedRows(planes, 1.0);
    // A strip's worth of rows per call, as the writer asks for them.
    constexpr int kRows = 8;
    for (auto _ : state) {
        parallelRows(rows.height, 64, [&](const RowBand& band) {
            std::vector<uint16_t> strip(static_cast<size_t>(kRows) * rows.width * 3);
            for (int y = band.begin; y < band.end; y += kRows) {
                rows.fill(y, std::min(kRows, band.end - y), strip.data());
                benchmark::DoNotOptimize(strip.data());
            }
        });
    }
}
BENCHMARK(BM_QuantiseOnly)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();
}  // namespace

namespace {
// "T" on the five frames through the default map, the GIF write timed apart.
void BM_ContactSheet(benchmark::State& state) {
    BenchBracket& b = benchBracket();
    double total = 0, sheet = 0, gif = 0;
    for (auto _ : state) {
        TimingReporter rep;
        const auto t0 = std::chrono::steady_clock::now();
        if (TestImagenesBN(b.reference(), benchMap(), b.set, rep) != 1) state.SkipWithError("sheet failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        sheet += rep.secondsBetween(QStringLiteral("\r\nGenerating B&W contact sheet"),
                                    QStringLiteral("\r\nSaving B&W samples"));
        gif += rep.secondsAfter(QStringLiteral("\r\nSaving B&W samples"));
    }
    const double it = static_cast<double>(state.iterations());
    state.counters["tiles_s"] = sheet / it;
    state.counters["gif_write_s"] = gif / it;
    state.counters["total_s"] = total / it;
    for (const QString& f : QDir(b.folder).entryList({QStringLiteral("BWTest_*.gif")}, QDir::Files))
        QFile::remove(b.folder + f);
}
BENCHMARK(BM_ContactSheet)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();
}  // namespace
