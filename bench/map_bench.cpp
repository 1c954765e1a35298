// "Build map" on five 6000 x 4000 frames: each stage timed apart, at the
// default settings and at the top radii, with the literal stages on a
// 600 x 400 crop for comparison.
#include "bench/bench_files.h"
#include "maps/maps.h"
#include "pipeline/map_stage.h"
#include "support/png_writer.h"
#include "support/recording_reporter.h"
#include "tests/common/map_reference.h"

#include <benchmark/benchmark.h>
#include <QFile>
#include <QImage>
#include <chrono>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// args: anti-ghosting radius, progressive radius, PNG quality (-1 Qt's default).
void BM_BuildMapStages(benchmark::State& state) {
    BenchBracket& b = benchBracket();
    MapSettings s;
    s.antiGhost = static_cast<int>(state.range(0));
    s.progressive = static_cast<int>(state.range(1));
    const int quality = static_cast<int>(state.range(2));
    const int n = static_cast<int>(b.set.ImagenesTIFF.size());
    double index = 0, ghost = 0, progressive = 0, png = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        ByteMap idx = buildIndexMap(b.set, OptimizarUmbral(s));
        index += secondsSince(t0);
        t0 = std::chrono::steady_clock::now();
        if (s.antiGhost + s.progressive >= 1) idx = antiGhostMap(idx, s.antiGhost + s.progressive);
        ghost += secondsSince(t0);
        t0 = std::chrono::steady_clock::now();
        const ByteMap grey = progressiveGreyMap(idx, s.progressive, n);
        progressive += secondsSince(t0);
        t0 = std::chrono::steady_clock::now();
        const QString path = b.folder + QStringLiteral("bench_map.png");
        writePng(QImage(grey.data.data(), grey.width, grey.height, grey.width,
                        QImage::Format_Grayscale8),
                 path, quality);
        png += secondsSince(t0);
        bytes = QFile(path).size();
    }
    const double it = static_cast<double>(state.iterations());
    state.counters["index_s"] = index / it;
    state.counters["antighost_s"] = ghost / it;
    state.counters["progressive_s"] = progressive / it;
    state.counters["png_s"] = png / it;
    state.counters["total_s"] = (index + ghost + progressive + png) / it;
    state.counters["png_KB"] = static_cast<double>(bytes) / 1024;
}
BENCHMARK(BM_BuildMapStages)
    ->ArgNames({"ghost", "prog", "pngq"})
    ->Args({0, 3, 80})
    ->Args({0, 3, -1})
    ->Args({0, 3, 100})
    ->Args({50, 50, 80})
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The whole "Build map" as the window runs it, log and table included.
void BM_GenerarMapa(benchmark::State& state) {
    BenchBracket& b = benchBracket();
    MapSettings s;
    s.antiGhost = static_cast<int>(state.range(0));
    s.progressive = static_cast<int>(state.range(1));
    for (auto _ : state) {
        RecordingReporter rep;
        const QString path = GenerarMapa(b.reference(), s, b.set, rep);
        if (path.isEmpty()) state.SkipWithError("build failed");
        QFile::remove(path);
    }
}
BENCHMARK(BM_GenerarMapa)
    ->ArgNames({"ghost", "prog"})
    ->Args({0, 3})
    ->Args({50, 50})
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Literal stages on a 600 x 400 crop of the default map.
void BM_LiteralStagesCrop(benchmark::State& state) {
    BenchBracket& b = benchBracket();
    const int ghost = static_cast<int>(state.range(0)), prog = static_cast<int>(state.range(1));
    ByteMap idx = buildIndexMap(b.set, OptimizarUmbral(MapSettings()));
    ByteMap crop;
    crop.width = 600;
    crop.height = 400;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 600; ++x) crop.data.push_back(idx.at(2700 + x, 1800 + y));
    double literal = 0, fast = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(literalProgressive(literalAntiGhost(crop, ghost, 5), prog, 5));
        literal += secondsSince(t0);
        t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(progressiveGreyMap(antiGhostMap(crop, ghost), prog, 5));
        fast += secondsSince(t0);
    }
    const double it = static_cast<double>(state.iterations());
    state.counters["literal_s"] = literal / it;
    state.counters["fast_s"] = fast / it;
}
BENCHMARK(BM_LiteralStagesCrop)
    ->ArgNames({"ghost", "prog"})
    ->Args({3, 3})
    ->Args({100, 50})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
