// Detached decoder processes, their liveness and their messages.
#include "develop/dcraw_process.h"

#include "support/paths.h"
#include "support/reporter.h"
#include "support/tiff_io.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <signal.h>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

// Start time of a process in clock ticks since boot (field 22 of
// /proc/<pid>/stat), or -1 when it is gone or already a zombie.
qint64 liveStartTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return -1;
    const QByteArray text = stat.readAll();
    // The command name may hold blanks and parentheses: fields follow the last ')'.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0) return -1;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // fields[0] is the state (field 3); the start time is field 22.
    if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X") return -1;
    bool ok = false;
    const qint64 ticks = fields[19].toLongLong(&ok);
    return ok ? ticks : -1;
}

QString messagesFolder() {
    static std::unique_ptr<QTemporaryDir> dir = [] {
        auto d = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                 QStringLiteral("/orrindale-XXXXXX"));
        return d;
    }();
    return dir->isValid() ? dir->path() : QDir::tempPath();
}

// Settings that make the decoders faster without changing a pixel. A decoder
// holds a frame's mosaic and image (some 250 MB for 24 MP) and faults it in
// 4 KB at a time; glibc puts large blocks on huge pages when told to, which
// saves a sixth of the time. dcraw_emu's OpenMP threads spin while they wait,
// stealing the core of a decoder beside it; passive waiting saves another
// sixth when several run at once. What the user set is left alone.
QProcessEnvironment decoderEnvironment(int threads) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Decoders beside other sets of the same batch keep to their share of
    // the cores; LibRaw's pixels do not depend on its thread count.
    if (threads > 0 && !env.contains(QStringLiteral("OMP_NUM_THREADS")))
        env.insert(QStringLiteral("OMP_NUM_THREADS"), QString::number(threads));
    const QString tunables = env.value(QStringLiteral("GLIBC_TUNABLES"));
    if (!tunables.contains(QStringLiteral("glibc.malloc.hugetlb")))
        env.insert(QStringLiteral("GLIBC_TUNABLES"),
                   (tunables.isEmpty() ? QString() : tunables + QLatin1Char(':')) +
                       QStringLiteral("glibc.malloc.hugetlb=1"));
    if (!env.contains(QStringLiteral("OMP_WAIT_POLICY")))
        env.insert(QStringLiteral("OMP_WAIT_POLICY"), QStringLiteral("passive"));
    return env;
}

}  // namespace

bool DecoderLauncher::reads(const Decoder& decoder, const QString& rawPath) {
    const FileStamp stamp = fileStamp(rawPath);
    // A file that cannot be examined is asked about every time.
    if (!stamp.valid) return identifies(decoder, rawPath);
    const QString key = QStringLiteral("%1|%2|%3|%4|%5|%6")
                            .arg(decoder.program, rawPath)
                            .arg(stamp.size)
                            .arg(stamp.changeNs)
                            .arg(stamp.inode)
                            .arg(stamp.device);
    const auto known = known_.constFind(key);
    if (known != known_.constEnd()) return *known;
    const bool answer = identifies(decoder, rawPath);
    known_.insert(key, answer);
    return answer;
}

namespace {

// Runs an identification; false when it cannot start, crashes or hangs.
bool runIdentification(const QString& program, const QStringList& arguments, QByteArray* output) {
    // A hostile file must not hold the window for long.
    constexpr int kTimeoutMs = 10000;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    if (!output) process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(kTimeoutMs)) return false;
    if (!process.waitForFinished(kTimeoutMs)) {
        process.kill();
        process.waitForFinished(kTimeoutMs);
        return false;
    }
    if (output) *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}  // namespace

bool DetachedLauncher::identifies(const Decoder& decoder, const QString& rawPath) {
    if (decoder.kind == DecoderKind::Dcraw)
        return runIdentification(decoder.program, {QStringLiteral("-i"), rawPath}, nullptr);
    const QString identify =
        QFileInfo(decoder.program).absolutePath() + QStringLiteral("/raw-identify");
    if (!QFileInfo(identify).isExecutable()) return true;
    QByteArray output;
    // "IMG_0001.CR3 is a Canon EOS R5 image." when it reads the file; only a
    // message on standard error otherwise.
    return runIdentification(identify, {rawPath}, &output) && output.contains(" is a ");
}

DcrawRun DecoderLauncher::launch(const DecoderStart& start) {
    return start.keepStdout ? startKeepingOutput(start.program, start.arguments)
                            : this->start(start.program, start.arguments);
}

DcrawRun DetachedLauncher::start(const QString& program, const QStringList& arguments) {
    return launch(DecoderStart{program, arguments, false, {}, {}, {}});
}

DcrawRun DetachedLauncher::startKeepingOutput(const QString& program,
                                              const QStringList& arguments) {
    return launch(DecoderStart{program, arguments, true, {}, {}, {}});
}

DcrawRun DetachedLauncher::launch(const DecoderStart& start) {
    static std::atomic<int> counter{0};
    DcrawRun run;
    std::lock_guard<std::mutex> lock(mutex_);
    // Stopping: a start refused has ended at once, as a failed one.
    if (stopped_) return run;
    const QString stem = messagesFolder() + QStringLiteral("/run-%1").arg(counter.fetch_add(1) + 1);
    run.messagesPath = stem + QStringLiteral(".log");
    if (start.keepStdout) run.progressPath = stem + QStringLiteral(".out");
    QProcess process;
    process.setProgram(start.program);
    process.setArguments(start.arguments);
    process.setProcessEnvironment(decoderEnvironment(threads_));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(!start.stdoutFile.isEmpty() ? start.stdoutFile
                                  : start.keepStdout          ? run.progressPath
                                                              : QProcess::nullDevice());
    process.setStandardErrorFile(run.messagesPath);
    qint64 pid = 0;
    if (process.startDetached(&pid) && pid > 0) {
        run.pid = pid;
        run.startTicks = liveStartTicks(pid);
        forgetEnded();
        started_.push_back(Started{pid, run.startTicks, start.tiff, start.partial});
    }
    return run;
}

void DetachedLauncher::forgetEnded() {
    // A window that develops all day must not keep every run it ever started.
    constexpr size_t kKept = 256;
    if (started_.size() < kKept) return;
    std::erase_if(started_, [](const Started& p) {
        const qint64 ticks = liveStartTicks(p.pid);
        const bool gone = ticks < 0 || (p.startTicks >= 0 && ticks != p.startTicks);
        return gone && (p.partial.isEmpty() || !QFile::exists(p.partial));
    });
}

int DetachedLauncher::stopAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    auto alive = [](const Started& p) {
        const qint64 ticks = liveStartTicks(p.pid);
        return ticks >= 0 && (p.startTicks < 0 || ticks == p.startTicks);
    };
    std::vector<const Started*> killed;
    for (const Started& p : started_)
        if (alive(p) && ::kill(static_cast<pid_t>(p.pid), SIGKILL) == 0) killed.push_back(&p);
    // SIGKILL cannot be caught, and the process is gone within moments; its
    // files are removed only then, so nothing writes to them afterwards.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 5000 &&
           std::any_of(killed.begin(), killed.end(), [&](const Started* p) { return alive(*p); }))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (const Started& p : started_)
        if (!p.partial.isEmpty()) QFile::remove(p.partial);
    // Beside the RAW file the decoder was writing the TIFF itself; one the
    // same signal ended before us (a terminal's Ctrl-C reaches the whole
    // process group) left its file cut short.
    for (const Started& p : started_) {
        if (!p.partial.isEmpty() || p.tiff.isEmpty()) continue;
        const bool wasKilled =
            std::any_of(killed.begin(), killed.end(), [&](const Started* k) { return k == &p; });
        if (wasKilled || (QFile::exists(p.tiff) && !tiffFileIsComplete(p.tiff))) QFile::remove(p.tiff);
    }
    return static_cast<int>(killed.size());
}

void removeDecoderMessageFolder() {
    const QString folder = messagesFolder();
    if (folder != QDir::tempPath()) QDir(folder).removeRecursively();
}

bool DetachedLauncher::ended(const DcrawRun& run) const {
    if (run.pid <= 0) return true;
    const qint64 ticks = liveStartTicks(run.pid);
    // Gone, a zombie, or the pid now belongs to another process.
    return ticks < 0 || (run.startTicks >= 0 && ticks != run.startTicks);
}

DcrawRun startRun(DecoderLauncher& launcher, const Decoder& decoder, const QStringList& arguments,
                  const QString& tiff, const QString& rawPath) {
    DcrawRun run = launcher.launch(
        DecoderStart{decoder.program, arguments, decoder.progressOnStdout(), {}, tiff, {}});
    run.tiff = tiff;
    run.rawName = NombreArchivo(rawPath);
    run.decoderName = decoder.name();
    return run;
}

DcrawRun startRunInto(DecoderLauncher& launcher, const Decoder& decoder,
                      const QStringList& options, const QString& rawPath, const QString& tiff) {
    if (tiff == tiffDeRaw(rawPath))
        return startRun(launcher, decoder, decoder.arguments(options, {rawPath}), tiff, rawPath);
    static std::atomic<int> counter{0};
    // Hidden (no listing or load takes it) and of this process and run alone.
    const QString partial = CarpetaArchivo(tiff) + QLatin1Char('.') + NombreArchivo(tiff) +
                            QStringLiteral(".%1-%2.part")
                                .arg(QCoreApplication::applicationPid())
                                .arg(counter.fetch_add(1) + 1);
    DcrawRun run = launcher.launch(DecoderStart{
        decoder.program, decoder.argumentsInto(options, rawPath, partial),
        decoder.progressOnStdout(), decoder.writesToStandardOutput() ? partial : QString(), tiff,
        partial});
    run.tiff = tiff;
    run.partial = partial;
    run.rawName = NombreArchivo(rawPath);
    run.decoderName = decoder.name();
    return run;
}

void reportFailedRun(const DcrawRun& run, Reporter& reporter, bool endsOperation) {
    const QString last = lastMessageLine(run);
    QString text = run.decoderName + QStringLiteral(" could not develop ") + run.rawName;
    reporter.EscribirEstado(text, true);
    if (!last.isEmpty()) {
        reporter.EscribirEstado(last, true);
        text += QStringLiteral("\r\n") + last;
    }
    if (endsOperation) reporter.EscribirEstado(QStringLiteral("DONE"), true);
    reporter.MostrarError(text);
}

RunState checkRun(const DcrawRun& run, const DecoderLauncher& launcher) {
    const bool endedBefore = launcher.ended(run);
    if (!run.partial.isEmpty() && QFile::exists(run.partial)) {
        // Its file is only whole once the decoder has ended.
        if (!endedBefore) return RunState::Pending;
        // rename(2) replaces a file of the same name in one step.
        if (tiffFileIsComplete(run.partial) &&
            std::rename(QFile::encodeName(run.partial).constData(),
                        QFile::encodeName(run.tiff).constData()) == 0)
            return RunState::Complete;
        QFile::remove(run.partial);
        return RunState::Failed;
    }
    if (ExisteArchivo(run.tiff) && tiffFileIsComplete(run.tiff)) return RunState::Complete;
    // Ended before the file was found incomplete: nothing more will come.
    return endedBefore ? RunState::Failed : RunState::Pending;
}

QString allMessages(const DcrawRun& run) {
    QFile f(run.messagesPath);
    if (run.messagesPath.isEmpty() || !f.open(QIODevice::ReadOnly)) return {};
    return QString::fromLocal8Bit(f.readAll());
}

QString lastMessageLine(const DcrawRun& run) {
    const QStringList lines = allMessages(run).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (qsizetype i = lines.size() - 1; i >= 0; --i)
        if (!lines[i].trimmed().isEmpty()) return lines[i].trimmed();
    return {};
}
