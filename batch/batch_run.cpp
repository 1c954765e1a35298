// The chain of one set without a window, and the summary of what it wrote.
#include "batch/batch_run.h"

#include "batch/batch_jobs.h"
#include "batch/set_record.h"
#include "batch/stdout_reporter.h"
#include "batch/stop_signals.h"
#include "develop/decoder_resources.h"
#include "develop/raw_set.h"
#include "pipeline/outcome_reporter.h"
#include "pipeline/set_pipeline.h"
#include "support/numbers.h"
#include "support/paths.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace {

// One set through the pipeline, stopping before the next stage once a signal
// has asked the batch to stop.
StageOutcome runSet(const BatchOptions& o, const QString& reference, const OutputPlace& place,
                    StdoutReporter& rep, DecoderLauncher& launcher, std::vector<double>& ev) {
    ImageSet set;
    set.place = place;
    SetPipeline pipeline(set, rep, [](SetStage) { return stopSignal() == 0; });
    SetPipeline::Development development;
    development.launcher = &launcher;
    // One process more than there are cores (or than the thread budget): the
    // last frames of a set then develop side by side instead of one leaving a
    // core idle.
    development.options.maxProcesses = (o.threads > 0 ? o.threads : availableCores()) + 1;
    development.options.limitCommandLength = false;
    // Short, as a finished frame waits that long.
    development.pollMs = 20;
    const StageOutcome outcome = pipeline.runWholeSet(reference, o, development);
    for (double f : set.ExpRelativas) ev.push_back(f > 0 ? -std::log2(f) : 0.0);
    return outcome;
}

// Where a reference's files go and how they are named.
OutputPlace placeOf(const BatchOptions& o, const QString& reference) {
    OutputPlace place;
    const QString stem = QuitarExtension(NombreArchivo(reference));
    if (!o.outDir.isEmpty()) place.folder = o.outDir + QLatin1Char('/') + stem + QLatin1Char('/');
    if (o.stableNames) place.stem = stem;
    return place;
}

// Names as a folder listing sorts them, each once.
QStringList sortedNames(const QStringList& paths) {
    QStringList names;
    for (const QString& p : paths) names << NombreArchivo(p);
    names.sort();
    names.removeDuplicates();
    return names;
}

// One line appended with one write: lines of processes sharing the file
// never mix.
void appendReport(const QString& file, const QString& reference, const QString& result,
                  const QStringList& files, const std::vector<double>& ev, double seconds) {
    if (file.isEmpty()) return;
    QJsonArray ev_;
    for (double e : ev) ev_.append(roundHalfEven(e * 1000) / 1000);
    const QJsonObject line{{"reference", reference},
                           {"result", result},
                           {"files", QJsonArray::fromStringList(files)},
                           {"ev", ev_},
                           {"seconds", roundHalfEven(seconds * 1000) / 1000}};
    const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    const int fd = ::open(QFile::encodeName(file).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        std::fprintf(stderr, "orrindale-batch: cannot append to %s\n", qPrintable(file));
        return;
    }
    if (::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())) != bytes.size())
        std::fprintf(stderr, "orrindale-batch: cannot append to %s\n", qPrintable(file));
    ::close(fd);
}

// One set from start to summary line; false when it failed.
bool processSet(const BatchOptions& o, const QString& reference, StdoutReporter& reporter,
                DecoderLauncher& launcher, std::FILE* summary) {
    const QString name = NombreArchivo(reference);
    QElapsedTimer timer;
    timer.start();
    const OutputPlace place = placeOf(o, reference);
    const QString folder = outputFolder(place, reference);
    const QString record = folder + recordFileName(reference);
    const QJsonObject settings = recordedSettings(o);
    auto line = [&](const QString& text) {
        std::fprintf(summary, "%s: %s\n", qPrintable(name), qPrintable(text));
        std::fflush(summary);
    };
    if (!QFileInfo(reference).isFile()) {
        const QString failure =
            QStringLiteral("no such RAW file '") + reference + QLatin1Char('\'');
        std::fprintf(stderr, "orrindale-batch: %s\n", qPrintable(failure));
        line(QStringLiteral("no files written"));
        appendReport(o.reportFile, reference, failure, {}, {}, 0);
        return false;
    }
    // A folder under --out is named after the reference alone: a set of
    // another folder with the same reference name must not overwrite it.
    const QJsonArray identity = setIdentity(reference);
    if (!place.folder.isEmpty()) {
        const QString other = recordOfAnotherSet(record, identity);
        if (!other.isEmpty()) {
            const QString failure = place.folder +
                                    QStringLiteral(" holds the files of another set (") + other +
                                    QStringLiteral(")");
            std::fprintf(stderr, "orrindale-batch: %s\n", qPrintable(failure));
            line(QStringLiteral("no files written"));
            appendReport(o.reportFile, reference, failure, {}, {}, 0);
            return false;
        }
    }
    if (o.skipDone) {
        QString why;
        if (recordSaysDone(record, settings, why)) {
            line(QStringLiteral("done earlier, skipped"));
            appendReport(o.reportFile, reference, QStringLiteral("done earlier"), {}, {}, 0);
            return true;
        }
        if (!why.isEmpty()) line(why + QStringLiteral(", redone"));
    }
    if (!place.folder.isEmpty() && !QDir().mkpath(place.folder)) {
        const QString failure = QStringLiteral("cannot make the folder ") + place.folder;
        std::fprintf(stderr, "orrindale-batch: %s\n", qPrintable(failure));
        line(QStringLiteral("no files written"));
        appendReport(o.reportFile, reference, failure, {}, {}, 0);
        return false;
    }
    // From here the earlier run's files change: its record goes first, so a
    // run stopped half-way leaves none.
    if (QFileInfo::exists(record) && !QFile::remove(record))
        std::fprintf(stderr, "orrindale-batch: cannot remove %s\n", qPrintable(record));
    StageOutcome outcome;
    std::vector<double> ev;
    try {
        outcome = runSet(o, reference, place, reporter, launcher, ev);
    } catch (...) {
        OutcomeReporter told(reporter);
        told.InformarError(QStringLiteral("orrindale-batch"));
        outcome.result = StageOutcome::Result::Failed;
        outcome.message = told.message();
    }
    // A stopped set has no summary and no record: the next run redoes it.
    if (stopSignal() || outcome.result == StageOutcome::Result::Stopped) return false;
    if (!outcome.told) std::fprintf(stderr, "orrindale-batch: %s\n", qPrintable(outcome.message));
    QStringList written = outcome.files;
    const double seconds = static_cast<double>(timer.elapsed()) / 1000;
    if (outcome.ok() && (o.skipDone || !o.outDir.isEmpty())) {
        // Written last, so a record always means a finished set.
        SetRecord r{reference, identity, settings, written, ev, seconds};
        if (writeRecord(record, r))
            written << record;
        else
            std::fprintf(stderr, "orrindale-batch: cannot write %s\n", qPrintable(record));
    }
    const QStringList names = sortedNames(written);
    line(names.isEmpty() ? QStringLiteral("no files written")
                         : QStringLiteral("wrote ") + names.join(QStringLiteral(", ")));
    QString failure = outcome.message.isEmpty() ? QStringLiteral("failed") : outcome.message;
    // A box's CR LF line ends are the window's; the report keeps plain ones.
    failure.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    appendReport(o.reportFile, reference, outcome.ok() ? QStringLiteral("ok") : failure, names,
                 ev, seconds);
    return outcome.ok();
}
}  // namespace

QString setKey(const QString& reference) {
    const QFileInfo info(reference);
    return info.absolutePath() + QLatin1Char('/') + info.suffix().toLower();
}

QStringList distinctSets(const QStringList& references, bool outFolders, std::FILE* summary,
                         bool& clash) {
    QHash<QString, QString> seen, stems;
    QStringList sets;
    clash = false;
    for (const QString& r : references) {
        const QString key = setKey(r);
        if (const auto it = seen.constFind(key); it != seen.constEnd()) {
            if (*it != r)
                std::fprintf(summary, "%s: the same set as %s, done once\n",
                             qPrintable(NombreArchivo(r)), qPrintable(NombreArchivo(*it)));
            continue;
        }
        seen.insert(key, r);
        // Under --out a set's folder is named after its reference alone.
        const QString stem = QuitarExtension(NombreArchivo(r));
        if (outFolders && stems.contains(stem)) {
            std::fprintf(
                stderr,
                "orrindale-batch: %s and %s of another folder would share one output folder\n",
                qPrintable(r), qPrintable(stems.value(stem)));
            std::fprintf(summary, "%s: no files written\n", qPrintable(NombreArchivo(r)));
            clash = true;
            continue;
        }
        stems.insert(stem, r);
        sets << r;
    }
    std::fflush(summary);
    return sets;
}

int runBatch(const BatchOptions& options, StdoutReporter& reporter, DecoderLauncher& launcher,
             std::FILE* summary) {
    bool clash = false;
    const QStringList sets =
        distinctSets(options.references, !options.outDir.isEmpty(), summary, clash);
    int status = clash ? 1 : 0;
    for (const QString& reference : sets) {
        if (stopSignal()) break;
        if (!processSet(options, reference, reporter, launcher, summary)) status = 1;
    }
    return stopSignal() ? stoppedStatus(stopSignal()) : status;
}
