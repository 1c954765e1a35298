// The full development and its highlight-recovery re-run, one dcraw process
// per file, polled by the window's timers or a headless loop.
#include "pipeline/full_development.h"

#include "develop/decoder_resources.h"
#include "develop/raw_set.h"
#include "pipeline/calc_ev.h"
#include "support/paths.h"
#include "support/reporter.h"

#include <QFile>
#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// Marks a call under way, so one re-entered from the events a status line
// lets run returns at once instead of working on half-updated state.
class CallGuard {
  public:
    explicit CallGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~CallGuard() { flag_ = false; }
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;

  private:
    bool& flag_;
};

using Stage = DecoderPool::Stage;

}  // namespace

FullDevelopment::FullDevelopment(DecoderLauncher& launcher, Reporter& reporter, ImageSet& set,
                                 FullDevelopmentOptions options)
    : launcher_(launcher), reporter_(reporter), set_(set), options_(std::move(options)) {}

void FullDevelopment::updateChoices(const DevelopSettings& settings, bool hlRecovery) {
    job_.settings = settings;
    job_.hlRecovery = hlRecovery;
}

void FullDevelopment::followStarted(const std::vector<size_t>& started) {
    for (size_t i : started) messages_.follow(pool_.entries()[i].run);
}

DevelopmentStatus FullDevelopment::start(const FullDevelopmentJob& job) {
    if (inCall_) return DevelopmentStatus::NotStarted;
    CallGuard guard(inCall_);
    try {
        if (!decoderInstalled(job.decoder, job.decoderPaths(), reporter_)) {
            reporter_.processEvents();
            return DevelopmentStatus::NotStarted;
        }
        // From here on the earlier development, if any, is no longer followed.
        job_ = job;
        status_ = DevelopmentStatus::Idle;
        decoder_ = Decoder::dcraw(job.rutaDCRAW);
        pool_.reset(decoder_, {}, DecoderLimits());
        messages_.clear();
        highlightRun_ = DcrawRun();
        numRevelados_ = 0;
        ultimoRevelado_ = 0;

        const int n = static_cast<int>(job.archivosRAW.size());
        reporter_.EscribirEstado(QString::number(n) + QStringLiteral(" RAW files selected in path"),
                                 false);
        const QString folder = CarpetaArchivo(job.rutaReferencia);
        std::vector<DecoderJob> jobs;
        for (int i = 1; i <= n; ++i) {
            const QString& name = job.archivosRAW[i - 1];
            const QString p = folder + name;
            if (!ExisteArchivo(p)) {
                reporter_.EscribirEstado(
                    QStringLiteral("file ") + name + QStringLiteral(" not found. Skipped"), true);
                continue;
            }
            // Deleted up front, so no old file can pass for a new one.
            const QString tiff = tiffDeRaw(p, set_.place.folder);
            if (ExisteArchivo(tiff)) QFile::remove(tiff);
            jobs.push_back(DecoderJob{{}, p, tiff, rawPixelEstimate(p) * kDecoderBytesPerPixel});
            ++numRevelados_;
            ultimoRevelado_ = static_cast<int16_t>(i);
        }
        reporter_.EscribirEstado(
            QString::number(numRevelados_) + QStringLiteral(" RAW files found now"), true);
        if (numRevelados_ < 1) {
            reporter_.EscribirEstado(QStringLiteral("\r\nNot files to develop"), true);
            reporter_.EscribirEstado(QStringLiteral("DONE"), true);
            reporter_.beep();
            return status_;
        }
        // The whole set goes to one decoder, so that its frames match.
        QStringList raws;
        for (const DecoderJob& j : jobs) raws << j.rawPath;
        const DecoderChoice choice =
            chooseDecoder(job.decoder, job.decoderPaths(), raws, launcher_);
        if (!reportDecoderChoice(choice, reporter_)) return status_;
        decoder_ = choice.decoder;
        const QStringList options = opcionesDCRAW(job.settings, false, false);
        // Each file is its own command line (one process, the path as one
        // argument), so the limit holds for each file's line.
        qsizetype longest = 0;
        for (const DecoderJob& j : jobs)
            longest = std::max(longest, decoder_.commandLine(options, {j.rawPath}).size());
        if (options_.limitCommandLength && longest > kLongitudMaximaComando) {
            AvisarLongitudComando(static_cast<int>(longest) - kLongitudMaximaComando, reporter_);
            return status_;
        }
        for (DecoderJob& j : jobs) j.options = options;

        reporter_.EscribirEstado(QStringLiteral("\r\nDeveloping ") +
                                     QString::number(numRevelados_) +
                                     QStringLiteral(" RAW files..."),
                                 true);
        reporter_.EscribirEstado(QStringLiteral("PLEASE WAIT"), true);
        pool_.reset(decoder_, std::move(jobs),
                    decoderLimits(options_.maxProcesses, options_.memoryAvailable));
        status_ = DevelopmentStatus::Developing;
        followStarted(pool_.startDue(launcher_));
    } catch (...) {
        reporter_.InformarError(QStringLiteral("Revelado"));
        status_ = DevelopmentStatus::Idle;
    }
    reporter_.processEvents();
    return status_;
}

void FullDevelopment::startDueFiles() {
    // Also from a timer while poll() waits on a box: starting processes
    // touches no state poll() holds across a report.
    if (status_ != DevelopmentStatus::Developing) return;
    try {
        followStarted(pool_.startDue(launcher_));
    } catch (...) {
        // Tried again at the next call.
    }
}

DevelopmentStatus FullDevelopment::poll() {
    if (inCall_) return status_;
    CallGuard guard(inCall_);
    try {
        switch (status_) {
            case DevelopmentStatus::Developing:
                return pollFiles();
            case DevelopmentStatus::FilesDone:
                return loadAndSortForRecovery();
            case DevelopmentStatus::HighlightRecovery:
                return pollHighlightRecovery();
            default:
                return status_;
        }
    } catch (...) {
        // A completion reports nothing of its own; the next poll tries again.
        return status_;
    }
}

DevelopmentStatus FullDevelopment::pollFiles() {
    followStarted(pool_.startDue(launcher_));
    std::vector<size_t> failed;
    const std::vector<DecoderPool::Entry>& entries = pool_.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].stage != Stage::Running) continue;
        const RunState state = checkRun(entries[i].run, launcher_);
        if (state == RunState::Complete) {
            pool_.settle(i, Stage::Developed);
            reporter_.fileWritten(entries[i].job.tiff);
        }
        if (state == RunState::Failed) {
            pool_.settle(i, Stage::Failed);
            failed.push_back(i);
        }
    }
    // Before any box waits for the user, the freed cores get their next files.
    followStarted(pool_.startDue(launcher_));
    const bool allEnded = pool_.allSettled();
    const bool nothingDeveloped = allEnded && pool_.count(Stage::Developed) == 0;
    for (size_t k = 0; k < failed.size(); ++k) {
        // A copy: the report lets events run, which may start more files.
        const DcrawRun run = pool_.entries()[failed[k]].run;
        // When no file could be developed, the last failure ends the
        // operation, as a single failed run does.
        reportFailedRun(run, reporter_, nothingDeveloped && k + 1 == failed.size());
    }
    if (!allEnded) return status_;
    if (nothingDeveloped) return status_ = DevelopmentStatus::Failed;
    if (!job_.hlRecovery) return complete();
    return status_ = DevelopmentStatus::FilesDone;
}

DevelopmentStatus FullDevelopment::loadAndSortForRecovery() {
    try {
        reporter_.EscribirEstado(QStringLiteral("\r\nWaiting to save last TIFF..."), true);
        reporter_.pause(options_.highlightWaitMs);
        reporter_.EscribirEstado(QStringLiteral("DONE"), true);
        // The loading says why when it stops.
        if (CargarTIFFs(job_.rutaReferencia, job_.archivosRAW, set_, reporter_) <= 1)
            return status_ = DevelopmentStatus::Failed;
        set_.TIFFMenosExpuesto.clear();
        OrdenarPorExposicion(false, set_, reporter_);
        // A failed sort has said why and left no least exposed file.
        if (set_.TIFFMenosExpuesto.isEmpty()) return status_ = DevelopmentStatus::Failed;
    } catch (...) {
        return status_ = DevelopmentStatus::Failed;
    }
    return startHighlightRecovery();
}

DevelopmentStatus FullDevelopment::startHighlightRecovery() {
    try {
        status_ = DevelopmentStatus::Failed;  // unless the run starts
        if (!ExisteArchivo(decoder_.program)) {
            if (decoder_.kind == DecoderKind::LibRaw)
                AvisarLibRawNoEncontrado(reporter_, QString());
            else
                AvisarDCRAWNoEncontrado(reporter_, decoder_.program);
            return status_;
        }
        const QString least = set_.TIFFMenosExpuesto;
        if (ExisteArchivo(least)) QFile::remove(least);
        // The RAW file that produced the least exposed TIFF, named as it is on
        // disk (letter case included).
        QString raw =
            QuitarExtension(least) + QLatin1Char('.') + ExtensionArchivo(job_.rutaReferencia);
        const QString folder = CarpetaArchivo(job_.rutaReferencia);
        for (const QString& name : job_.archivosRAW)
            if (tiffDeRaw(folder + name, set_.place.folder) == least) raw = folder + name;
        const QStringList options = opcionesDCRAW(job_.settings, false, false)
                                    << QStringLiteral("-H") << QStringLiteral("2");
        const QString complete = decoder_.commandLine(options, {raw});
        if (options_.limitCommandLength && complete.size() > kLongitudMaximaComando) {
            AvisarLongitudComando(static_cast<int>(complete.size()) - kLongitudMaximaComando,
                                  reporter_);
            return status_;
        }
        reporter_.EscribirEstado(QStringLiteral("\r\nHighlight recovery on ") + NombreArchivo(raw) +
                                     QStringLiteral("..."),
                                 true);
        highlightRun_ =
            startRunInto(launcher_, decoder_, options, raw, tiffDeRaw(raw, set_.place.folder));
        messages_.follow(highlightRun_);
        status_ = DevelopmentStatus::HighlightRecovery;
    } catch (...) {
        reporter_.InformarError(QStringLiteral("ReveladoHLRecovery"));
        status_ = DevelopmentStatus::Failed;
    }
    reporter_.processEvents();
    return status_;
}

DevelopmentStatus FullDevelopment::pollHighlightRecovery() {
    switch (checkRun(highlightRun_, launcher_)) {
        case RunState::Pending:
            return status_;
        case RunState::Failed:
            status_ = DevelopmentStatus::Failed;
            reportFailedRun(highlightRun_, reporter_, true);
            return status_;
        case RunState::Complete:
            break;
    }
    reporter_.fileWritten(highlightRun_.tiff);
    return complete();
}

DevelopmentStatus FullDevelopment::complete() {
    status_ = DevelopmentStatus::Complete;
    reporter_.EscribirEstado(QStringLiteral("DONE"), true);
    // The label shows the quick line again, for the settings as they are now.
    reporter_.MostrarComando(ConstruirComandoDCRAW(job_.settings, true, false, decoder_));
    reporter_.beep();
    return status_;
}

void FullDevelopment::handOverWaitingFiles() {
    if (status_ != DevelopmentStatus::Developing) return;
    try {
        pool_.handOverWaiting(launcher_);
    } catch (...) {
        // Leaving: there is no one left to tell.
    }
}

DevelopmentStatus developToEnd(FullDevelopment& development, const FullDevelopmentJob& job,
                               int pollMs, const std::function<void()>& afterPoll) {
    DevelopmentStatus s = development.start(job);
    while (isPending(s)) {
        // Files done: the recovery step has its own pause, nothing to wait for here.
        if (s != DevelopmentStatus::FilesDone)
            std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
        s = development.poll();
        if (afterPoll) afterPoll();
    }
    return s;
}
