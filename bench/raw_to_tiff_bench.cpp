// From three 6000 x 4000 RAW files to one blended 16-bit TIFF: orrindale-batch
// with each decoder, next to HDRMerge's merge of the same files into a DNG
// (when hdrmerge is installed), in the same run. The batch's status lines are
// stamped as they arrive, to show where its time goes stage by stage.
#include <benchmark/benchmark.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <map>
#include <string>

namespace {

constexpr int kFrames = 3;
const QString kHdrMerge = QStringLiteral("/usr/bin/hdrmerge");

struct Bracket {
    QTemporaryDir dir;
    QStringList raws;
    Bracket() {
        QProcess::execute(QStringLiteral(ORRINDALE_MAKE_BRACKET),
                          {"--count", QString::number(kFrames), "--step", "2", "--width", "6000",
                           "--height", "4000", "--out", dir.path()});
        for (const QString& n : QDir(dir.path()).entryList({"*.dng"}, QDir::Files, QDir::Name))
            raws << dir.filePath(n);
    }
    // Outside the timing: each run starts from the RAW files alone.
    void clean() const {
        QDir d(dir.path());
        for (const QString& f : d.entryList(QDir::Files))
            if (!f.endsWith(QStringLiteral(".dng"))) d.remove(f);
        d.remove(QStringLiteral("merged.dng"));
    }
};

Bracket& bracket() {
    static Bracket b;
    return b;
}

// Stages as the log announces them: each runs from its line to the next one's.
const std::pair<const char*, const char*> kStages[] = {
    {"Developing ", "develop"},           {"Loading ", "load"},
    {"Calculating absolute", "sort"},     {"Calculating relative", "ev"},
    {"Threshold optimisation", "map"},    {"Loading blending map", "blend_prep"},
    {"Blending images", "blend_write"},
};

enum class Tool { HdrMerge, BatchDcraw, BatchLibRaw };

// One run of a tool from the RAW files alone, in seconds; the batch's stage
// times are added to `stages` under `prefix`. Negative when the run failed.
double runTool(Tool tool, const Bracket& b, std::map<std::string, double>& stages,
               const std::string& prefix) {
    b.clean();
    QProcess p;
    p.setWorkingDirectory(b.dir.path());
    if (tool == Tool::HdrMerge) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.setProgram(kHdrMerge);
        p.setArguments(QStringList{"--no-align", "-b", "16", "-o", b.dir.filePath("merged.dng")} +
                       b.raws);
    } else {
        p.setProgram(QStringLiteral(ORRINDALE_BATCH));
        p.setArguments({"--decoder", tool == Tool::BatchDcraw ? "dcraw" : "libraw", b.raws.first()});
    }
    p.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    p.start();
    QString pending, openStage;
    double openedAt = 0;
    auto now = [&] { return static_cast<double>(clock.nsecsElapsed()) / 1e9; };
    // A stage runs from the line that opens it to the line that opens the next.
    auto stamp = [&](const QString& line) {
        for (const auto& [opening, name] : kStages) {
            if (!line.startsWith(QLatin1String(opening))) continue;
            const double t = now();
            if (!openStage.isEmpty()) stages[prefix + openStage.toStdString()] += t - openedAt;
            openStage = QLatin1String(name);
            openedAt = t;
        }
    };
    while (p.state() != QProcess::NotRunning || p.bytesAvailable() > 0) {
        p.waitForReadyRead(5);
        pending += QString::fromLocal8Bit(p.readAllStandardOutput());
        for (qsizetype nl; (nl = pending.indexOf(QLatin1Char('\n'))) >= 0; pending.remove(0, nl + 1))
            stamp(pending.left(nl));
    }
    p.waitForFinished(-1);
    const double seconds = now();
    if (!openStage.isEmpty()) stages[prefix + openStage.toStdString()] += seconds - openedAt;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? seconds : -1;
}

// Each iteration runs the three in turn, so a change in the machine's load
// falls on all of them alike. The iteration time is the LibRaw chain's.
void BM_RawToTiff(benchmark::State& state) {
    Bracket& b = bracket();
    if (b.raws.size() != kFrames) return state.SkipWithError("the sample set was not generated");
    const bool hdrmerge = QFileInfo(kHdrMerge).isExecutable();
    std::map<std::string, double> totals;
    for (auto _ : state) {
        std::map<std::string, double> seconds;
        if (hdrmerge) seconds["hdrmerge_s"] = runTool(Tool::HdrMerge, b, totals, "hdrmerge_");
        seconds["dcraw_s"] = runTool(Tool::BatchDcraw, b, totals, "dcraw_");
        seconds["libraw_s"] = runTool(Tool::BatchLibRaw, b, totals, "libraw_");
        for (const auto& [name, s] : seconds) {
            if (s < 0) state.SkipWithError((name + " failed").c_str());
            totals[name] += s;
        }
        state.SetIterationTime(seconds["libraw_s"]);
    }
    const double n = static_cast<double>(state.iterations());
    for (const auto& [name, s] : totals) state.counters[name] = s / n;
    if (hdrmerge)
        state.counters["libraw_vs_hdrmerge"] = totals["libraw_s"] / totals["hdrmerge_s"];
    state.SetLabel(hdrmerge ? "batch chain with each decoder next to hdrmerge --no-align -b 16"
                            : "hdrmerge is not installed");
}

BENCHMARK(BM_RawToTiff)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(3);

}  // namespace
