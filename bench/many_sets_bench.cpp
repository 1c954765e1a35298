// Throughput over many sets: 20 brackets of three 12 MP frames, RAW files to
// blended TIFF into an output folder, one set after another (--jobs 1), two
// at once in one batch (--jobs 2), and two batches at once under GNU parallel
// (when installed). The counter is sets per hour.
#include <benchmark/benchmark.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

constexpr int kSets = 20;

// One generated bracket linked under 20 names: sets of the same cost, each
// in its own folder with its own reference name.
struct ManySets {
    QTemporaryDir dir;
    QString list;
    bool ok = false;
    ManySets() {
        const QString source = dir.filePath("source");
        if (QProcess::execute(QStringLiteral(ORRINDALE_MAKE_BRACKET),
                              {"--count", "3", "--step", "2", "--width", "4000", "--height", "3000",
                               "--out", source}) != 0)
            return;
        list = dir.filePath("sets.txt");
        QFile out(list);
        if (!out.open(QIODevice::WriteOnly)) return;
        for (int s = 0; s < kSets; ++s) {
            const QString prefix = QStringLiteral("S%1_").arg(s, 2, 10, QLatin1Char('0'));
            const QString folder = dir.filePath(prefix);
            QDir().mkpath(folder);
            for (int k = 1; k <= 3; ++k) {
                const QString name = QStringLiteral("%1.dng").arg(k, 4, 10, QLatin1Char('0'));
                if (!QFile::link(source + "/IMG_" + name, folder + "/" + prefix + name)) return;
            }
            out.write((folder + "/" + prefix + "0001.dng\n").toLocal8Bit());
        }
        ok = true;
    }
};

ManySets& manySets() {
    static ManySets m;
    return m;
}

enum Mode { kJobs1, kJobs2, kParallel2 };

void BM_ManySets(benchmark::State& state) {
    ManySets& m = manySets();
    if (!m.ok) return state.SkipWithError("the sets were not generated");
    const QString parallel = QStandardPaths::findExecutable("parallel");
    const auto mode = static_cast<Mode>(state.range(0));
    if (mode == kParallel2 && parallel.isEmpty())
        return state.SkipWithError("GNU parallel is not installed");
    const QString out = m.dir.filePath("OUT");
    const QString batch = QStringLiteral(ORRINDALE_BATCH);
    double total = 0;
    for (auto _ : state) {
        QDir(out).removeRecursively();
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        if (mode == kParallel2)
            p.start(parallel, {"-j2", batch, "--out", out, "{}", "::::", m.list});
        else
            p.start(batch,
                    {"--jobs", mode == kJobs1 ? "1" : "2", "--out", out, "--sets-from", m.list});
        QElapsedTimer clock;
        clock.start();
        p.waitForFinished(-1);
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        if (p.exitCode() != 0) return state.SkipWithError(p.readAllStandardError().constData());
        state.SetIterationTime(seconds);
        total += seconds;
    }
    state.counters["sets_per_hour"] =
        kSets * 3600.0 * static_cast<double>(state.iterations()) / total;
    state.SetLabel(mode == kJobs1 ? "--jobs 1" : mode == kJobs2 ? "--jobs 2" : "parallel -j2");
}
BENCHMARK(BM_ManySets)
    ->Arg(kJobs1)
    ->Arg(kJobs2)
    ->Arg(kParallel2)
    ->Unit(benchmark::kSecond)
    ->UseManualTime()
    ->Iterations(1);

}  // namespace
