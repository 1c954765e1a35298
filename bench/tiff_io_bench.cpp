// TIFF read and write of one 6000 x 4000 16-bit RGB frame (144 MB of pixels),
// next to a plain copy of the same file by cp: uncompressed read as dcraw
// writes it, LZW + predictor write as the program saves its outputs.
#include "bench/bench_files.h"
#include "support/gfl_bitmap.h"
#include "support/parallel.h"
#include "support/tiff_io.h"


#include <benchmark/benchmark.h>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <memory>

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

// A photograph-like frame: smooth light falloff, texture and noise, so LZW
// meets realistic data rather than flat colour or pure noise.
GflBitmap photoLike() {
    GflBitmap b;
    b.width = kWidth;
    b.height = kHeight;
    b.pixels.resize(b.sampleCount());
    uint32_t state = 12345;
    for (int y = 0; y < kHeight; ++y) {
        uint16_t* row = b.row(y);
        for (int x = 0; x < kWidth; ++x) {
            state = state * 1664525u + 1013904223u;
            const double light = 20000 + 15000 * std::sin(x * 0.001) * std::cos(y * 0.0013) +
                                 3000 * std::sin(x * 0.05 + y * 0.03);
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] = static_cast<uint16_t>(
                    std::clamp(light * (0.7 + 0.15 * c) + ((state >> (8 + 4 * c)) & 255) - 128,
                               0.0, 65535.0));
        }
    }
    return b;
}

struct Files {
    QTemporaryDir dir;
    GflBitmap image = photoLike();
    QString uncompressed = dir.filePath("dcraw-like.tiff");
    QString lzw = dir.filePath("lzw.tiff");
    Files() {
        writeUncompressedTiff(image, uncompressed);
        writeTiffRgb16(image, lzw);
    }
};

Files& files() {
    static Files f;
    return f;
}

void setRates(benchmark::State& state, const QString& file) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * QFileInfo(file).size());
    state.counters["file_MB"] = static_cast<double>(QFileInfo(file).size()) / 1e6;
}

void BM_ReadUncompressed(benchmark::State& state) {
    Files& f = files();
    for (auto _ : state) {
        GflBitmap b;
        readTiffRgb16(f.uncompressed, b);
        benchmark::DoNotOptimize(b.pixels.data());
    }
    setRates(state, f.uncompressed);
}

void BM_ReadLzw(benchmark::State& state) {
    Files& f = files();
    for (auto _ : state) {
        GflBitmap b;
        readTiffRgb16(f.lzw, b);
        benchmark::DoNotOptimize(b.pixels.data());
    }
    // Rate in decoded pixel bytes, comparable with the uncompressed read.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(f.image.sampleCount() * 2));
}

// The argument is the thread count (setParallelThreads; 0 = one per core).
void BM_WriteLzwPredictor(benchmark::State& state) {
    Files& f = files();
    const QString out = f.dir.filePath("out.tiff");
    setParallelThreads(static_cast<int>(state.range(0)));
    for (auto _ : state) writeTiffRgb16(f.image, out);
    setParallelThreads(0);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(f.image.sampleCount() * 2));
    state.counters["file_MB"] = static_cast<double>(QFileInfo(out).size()) / 1e6;
}

void BM_CpUncompressed(benchmark::State& state) {
    Files& f = files();
    const QString out = f.dir.filePath("copy.tiff");
    for (auto _ : state) {
        QProcess::execute(QStringLiteral("/bin/cp"), {f.uncompressed, out});
    }
    setRates(state, f.uncompressed);
}

BENCHMARK(BM_ReadUncompressed)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ReadLzw)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_WriteLzwPredictor)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(BM_CpUncompressed)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace
