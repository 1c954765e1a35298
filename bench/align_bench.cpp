// Alignment of a handheld bracket: five 6000 x 4000 frames 2 EV apart, the
// four brighter ones shaken by up to 4 pixels and 0.3 degrees, made by the
// sample generator and developed by dcraw as "Develop" does. The estimate and
// the resampling of each frame are timed apart, the whole stage with the
// memory it adds; Hugin's align_image_stack runs on the same developed TIFFs
// when it is installed.
#include "align/align.h"
#include "pipeline/calc_ev.h"
#include "bench/bench_timing.h"
#include "support/recording_reporter.h"
#include "develop/dcraw_command.h"
#include "develop/dcraw_process.h"
#include "support/parallel.h"
#include "support/tiff_io.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <chrono>
#include <memory>

namespace {

constexpr int kFrames = 5;
const char* const kAlignImageStack = "/usr/bin/align_image_stack";

struct HandheldSet {
    QTemporaryDir dir;
    QStringList tiffs;
    std::vector<GflBitmap> frames;   // as developed, darkest first
    std::vector<RigidMove> truth;    // from shake.txt
};

const HandheldSet& handheldSet() {
    static const std::unique_ptr<HandheldSet> made = [] {
        auto h = std::make_unique<HandheldSet>();
        QProcess::execute(QStringLiteral(ORRINDALE_MAKE_BRACKET),
                          {"--count", QString::number(kFrames), "--step", "2", "--texture",
                           "--shake", "4,0.3", "--out", h->dir.path()});
        DevelopSettings settings;
        presetWB(2, settings.txtWB);
        const QStringList args = dcrawArguments(ConstruirComandoDCRAW(settings, false, false));
        // Two decoders at a time, as "Develop" runs them on two cores.
        parallelRows(kFrames, 1, [&](const RowBand& band) {
            for (int i = band.begin; i < band.end; ++i) {
                QProcess dcraw;
                dcraw.start(RutaDCRAW, QStringList(args)
                                           << h->dir.filePath(QStringLiteral("IMG_%1.dng")
                                                                  .arg(i + 1, 4, 10, QLatin1Char('0'))));
                dcraw.waitForFinished(-1);
            }
        });
        QFile shake(h->dir.filePath("shake.txt"));
        shake.open(QIODevice::ReadOnly);
        QTextStream in(&shake);
        for (int i = 0; i < kFrames; ++i) {
            QString name;
            double dx = 0, dy = 0, degrees = 0;
            in >> name >> dx >> dy >> degrees;
            h->truth.push_back(moveFromDegrees(dx, dy, degrees));
            h->tiffs << h->dir.filePath(QFileInfo(name).completeBaseName() + ".tiff");
            h->frames.emplace_back();
            readTiffRgb16(h->tiffs.back(), h->frames.back());
        }
        return h;
    }();
    return *made;
}

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::vector<const GflBitmap*> pointers(const HandheldSet& h) {
    std::vector<const GflBitmap*> images;
    for (const GflBitmap& f : h.frames) images.push_back(&f);
    return images;
}

// The moves of the four shaken frames, and how far the worst corner lands
// from where it belongs.
void BM_AlignEstimate(benchmark::State& state) {
    const HandheldSet& h = handheldSet();
    std::vector<FrameAlignment> found;
    for (auto _ : state) found = estimateMoves(pointers(h));
    double worst = 0;
    for (int k = 1; k < kFrames; ++k) {
        if (!found[static_cast<size_t>(k)].aligned) state.SkipWithError("a frame was not aligned");
        worst = std::max(worst, cornerDistance(found[static_cast<size_t>(k)].move,
                                               h.truth[static_cast<size_t>(k)], h.frames[0].width,
                                               h.frames[0].height));
    }
    state.counters["worst_corner_px"] = worst;
}

// Each shaken frame resampled onto image 1 by its true move.
void BM_AlignResample(benchmark::State& state) {
    const HandheldSet& h = handheldSet();
    std::map<std::string, double> seconds;
    GflBitmap frame;
    for (auto _ : state)
        for (int k = 1; k < kFrames; ++k) {
            state.PauseTiming();
            frame = h.frames[static_cast<size_t>(k)];
            state.ResumeTiming();
            CoveredRows covered;
            const auto t0 = std::chrono::steady_clock::now();
            resampleInPlace(frame, h.truth[static_cast<size_t>(k)], covered);
            seconds["frame" + std::to_string(k + 1) + "_s"] += since(t0);
            benchmark::DoNotOptimize(frame.pixels.data());
        }
    for (const auto& [name, s] : seconds)
        state.counters[name] = s / static_cast<double>(state.iterations());
}

// The stage as "Calc EV" runs it, and the memory it adds to the loaded set.
void BM_AlignStage(benchmark::State& state) {
    const HandheldSet& h = handheldSet();
    const double pixels = static_cast<double>(h.frames[0].width) * h.frames[0].height;
    long long added = 0;
    double total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ImageSet set;
        set.ImagenesTIFF = h.frames;
        set.ArchivosTIFF = h.tiffs;
        set.AnchoImagen = h.frames[0].width;
        set.AltoImagen = h.frames[0].height;
        set.TIFFsCargados = true;
        malloc_trim(0);
        const long long before = residentBytes();
        resetPeakMemory();
        state.ResumeTiming();
        RecordingReporter rep;
        const auto t0 = std::chrono::steady_clock::now();
        AlignSettings on;
        on.alinear = true;
        if (!alignImages(on, set, rep)) state.SkipWithError("alignment failed");
        total += since(t0);
        added = std::max(added, peakResidentBytes() - before);
    }
    state.counters["stage_s"] = total / static_cast<double>(state.iterations());
    state.counters["peak_added_B/px"] = static_cast<double>(added) / pixels;
}

// Hugin's tool on the same five developed TIFFs: control points, optimised
// positions and remapped frames, which is the same work as ours.
void BM_AlignImageStack(benchmark::State& state) {
    if (!QFileInfo(QString::fromLatin1(kAlignImageStack)).isExecutable()) {
        state.SkipWithError("align_image_stack is not installed");
        for (auto _ : state) {
        }
        return;
    }
    const HandheldSet& h = handheldSet();
    QTemporaryDir out;
    for (auto _ : state) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QString::fromLatin1(kAlignImageStack),
                QStringList{"-a", out.filePath("aligned_")} + h.tiffs);
        p.waitForFinished(-1);
        if (p.exitCode() != 0) state.SkipWithError("align_image_stack failed");
    }
}

BENCHMARK(BM_AlignEstimate)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_AlignResample)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_AlignStage)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_AlignImageStack)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
