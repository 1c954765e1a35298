// The memory each stage takes on top of the loaded set, in bytes per pixel of
// the five 6000 x 4000 frames: the figures README gives for sizing a machine.
// Peak resident size over the stage minus what was resident before it.
#include "bench/bench_files.h"
#include "bench/bench_timing.h"
#include "blend/blend.h"
#include "pipeline/blend_stage.h"
#include "pipeline/calc_ev.h"
#include "maps/maps.h"
#include "pipeline/map_stage.h"
#include "support/tiff_io.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <QDir>
#include <QFile>
#include <stdexcept>

namespace {

enum Stage { kLoadFrame, kCalcEv, kBuildMap, kBlend, kBlendBW, kContactSheet, kBlendWeighted };

void clearOutputs(const QString& folder) {
    for (const QString& f :
         QDir(folder).entryList({QStringLiteral("OD*.tif"), QStringLiteral("His_*.gif"),
                                 QStringLiteral("BWTest_*.gif")},
                                QDir::Files))
        QFile::remove(folder + f);
}

void runStage(Stage stage, BenchBracket& b) {
    RecordingReporter rep;
    BlendSettings s;
    s.perfil = QStringLiteral("sRGB");
    s.rutaMapa = benchBracketMap();
    switch (stage) {
        case kLoadFrame: {
            // One developed frame as the set loader decodes it.
            GflBitmap frame;
            readTiffRgb16(b.set.ArchivosTIFF[0], frame);
            benchmark::DoNotOptimize(frame.pixels.data());
            break;
        }
        case kCalcEv:
            CalcularExpRelativas(b.reference(), false, b.set, rep);
            break;
        case kBuildMap:
            GenerarMapa(b.reference(), MapSettings(), b.set, rep);
            break;
        case kBlend:
        case kBlendBW:
        case kBlendWeighted:
            s.blancoNegro = stage == kBlendBW;
            if (stage == kBlendWeighted) s.merge = BlendMerge::Weighted;
            FusionarImagenes(b.reference(), s, b.set, rep);
            break;
        case kContactSheet:
            TestImagenesBN(b.reference(), s.rutaMapa, b.set, rep);
            break;
    }
    if (!rep.boxes.empty()) throw std::runtime_error(rep.boxes[0].text.toStdString());
}

void BM_StageMemory(benchmark::State& state) {
    BenchBracket& b = benchBracket();
    const auto stage = static_cast<Stage>(state.range(0));
    (void)benchBracketMap();
    long long added = 0;
    for (auto _ : state) {
        clearOutputs(b.folder);
        // What an earlier stage freed but the allocator kept would hide this
        // stage's own need.
        malloc_trim(0);
        const long long before = residentBytes();
        resetPeakMemory();
        try {
            runStage(stage, b);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
        }
        added = std::max(added, peakResidentBytes() - before);
    }
    clearOutputs(b.folder);
    state.counters["peak_added_B/px"] =
        static_cast<double>(added) / (static_cast<double>(kBenchWidth) * kBenchHeight);
}
BENCHMARK(BM_StageMemory)
    ->ArgName("stage")
    ->Arg(kLoadFrame)
    ->Arg(kCalcEv)
    ->Arg(kBuildMap)
    ->Arg(kBlend)
    ->Arg(kBlendBW)
    ->Arg(kContactSheet)
    ->Arg(kBlendWeighted)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
