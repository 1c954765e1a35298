// "Develop" on five synthetic 6000 x 4000 frames with each decoder: one
// process over the whole set (dcraw_emu then uses both cores itself),
// against one process per file through the core development (at most
// `processes` at once), in the same run on the same files.
#include "develop/dcraw_command.h"
#include "develop/dcraw_process.h"
#include "pipeline/full_development.h"
#include "pipeline/image_set.h"
#include "support/recording_reporter.h"

#include <benchmark/benchmark.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTemporaryDir>

namespace {

constexpr int kFrames = 5;

struct Bracket {
    QTemporaryDir dir;
    QStringList names;
    DevelopSettings settings;
    Bracket() {
        QProcess::execute(QStringLiteral(ORRINDALE_MAKE_BRACKET),
                          {"--count", QString::number(kFrames), "--step", "1", "--width", "6000",
                           "--height", "4000", "--out", dir.path()});
        names = QDir(dir.path()).entryList({"*.dng"}, QDir::Files, QDir::Name);
        presetWB(2, settings.txtWB);
    }
    // Outside the timing: both ways start from a folder without TIFFs.
    void removeTiffs() const {
        for (const QString& n : names) QFile::remove(dir.filePath(tiffDeRaw(n)));
    }
};

Bracket& bracket() {
    static Bracket b;
    return b;
}

Decoder decoderOf(const benchmark::State& state) {
    return state.range(0) == 0 ? Decoder::dcraw() : Decoder::libRaw();
}

void BM_DevelopOneProcess(benchmark::State& state) {
    Bracket& b = bracket();
    if (b.names.size() != kFrames) state.SkipWithError("the sample set was not generated");
    const Decoder decoder = decoderOf(state);
    QStringList raws;
    for (const QString& n : b.names) raws << b.dir.filePath(n);
    const QStringList args = decoder.arguments(opcionesDCRAW(b.settings, false, false), raws);
    for (auto _ : state) {
        state.PauseTiming();
        b.removeTiffs();
        state.ResumeTiming();
        // Started as every development starts its decoders (same environment).
        DetachedLauncher launcher;
        const DcrawRun run = launcher.start(decoder.program, args);
        while (!launcher.ended(run)) QThread::msleep(5);
    }
    state.counters["frames/s"] =
        benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(decoder.name().toStdString());
}

void BM_DevelopOnePerFile(benchmark::State& state) {
    Bracket& b = bracket();
    if (b.names.size() != kFrames) state.SkipWithError("the sample set was not generated");
    FullDevelopmentJob job;
    job.rutaReferencia = b.dir.filePath(b.names.first());
    job.archivosRAW = b.names;
    job.settings = b.settings;
    job.decoder = state.range(0) == 0 ? DecoderSetting::Dcraw : DecoderSetting::LibRaw;
    FullDevelopmentOptions options;
    options.maxProcesses = static_cast<int>(state.range(1));
    for (auto _ : state) {
        state.PauseTiming();
        b.removeTiffs();
        DetachedLauncher launcher;
        RecordingReporter reporter;
        ImageSet set;
        FullDevelopment development(launcher, reporter, set, options);
        state.ResumeTiming();
        // Polled as a headless caller would; the window starts the next file
        // within 100 ms and notices the end at its 3000 ms tick.
        if (developToEnd(development, job, 20) != DevelopmentStatus::Complete)
            state.SkipWithError("the development did not complete");
    }
    state.counters["frames/s"] =
        benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(decoderOf(state).name().toStdString() + ", " + std::to_string(state.range(1)) +
                   " at once");
}

// decoder 0 = dcraw, 1 = LibRaw.
BENCHMARK(BM_DevelopOneProcess)
    ->ArgName("decoder")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(2);
// Two at once as the window runs them on two cores; three as orrindale-batch does.
BENCHMARK(BM_DevelopOnePerFile)
    ->ArgNames({"decoder", "processes"})
    ->ArgsProduct({{0, 1}, {2, 3}})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace
