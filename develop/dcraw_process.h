// Starting the decoder as a separate process and learning how a run ended.
// The process is started detached: leaving the program never stops it, and
// its only way back is the TIFF it writes (and its messages, kept in a file).
#pragma once

#include "develop/decoder.h"
#include "support/paths.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <mutex>
#include <vector>

class Reporter;

struct DcrawRun {
    qint64 pid = 0;           // 0 when it could not be started
    qint64 startTicks = -1;   // process start time, to tell a reused pid apart
    QString messagesPath;     // the decoder's errors and messages (its standard error)
    QString progressPath;     // its standard output, when it prints progress there
    QString tiff;             // the file the run waits for
    // Where the decoder writes until the whole file is renamed to `tiff`;
    // empty when it writes `tiff` itself (beside the RAW file).
    QString partial;
    QString rawName;          // the RAW file named in a failure report
    QString decoderName = QStringLiteral("DCRAW");  // the decoder a failure report names
};

// Everything about one decoder start.
struct DecoderStart {
    QString program;
    QStringList arguments;
    bool keepStdout = false;  // keep standard output (dcraw_emu's progress)
    QString stdoutFile;       // or send it into this file (dcraw -c)
    // What the run writes: its partial file, or the TIFF it writes itself.
    // A stopped run's file is removed (see DetachedLauncher::stopAll).
    QString tiff;
    QString partial;
};

class DecoderLauncher {
public:
    virtual ~DecoderLauncher() = default;
    // Starts a decoder as `start` says. The default serves launchers that
    // only know the two calls below (stand-ins in tests): the output file
    // is not theirs to write.
    virtual DcrawRun launch(const DecoderStart& start);
    // Starts `program` with `arguments` (no shell). Returns the run; pid 0
    // when the start failed.
    virtual DcrawRun start(const QString& program, const QStringList& arguments) = 0;
    // The same, keeping what it prints on standard output in
    // DcrawRun::progressPath (dcraw_emu reports its progress there). A
    // launcher that keeps no output starts it as any other.
    virtual DcrawRun startKeepingOutput(const QString& program, const QStringList& arguments) {
        return start(program, arguments);
    }
    // True once the process has ended (or never started).
    virtual bool ended(const DcrawRun& run) const = 0;

    // Whether `decoder` can read the RAW file, asked once per version of the
    // file (path, size, change time): a quick identification, no development.
    bool reads(const Decoder& decoder, const QString& rawPath);

protected:
    // The identification itself, without the memory of earlier answers.
    virtual bool identifies(const Decoder& decoder, const QString& rawPath) = 0;

private:
    QHash<QString, bool> known_;
};

// The real launcher: QProcess::startDetached with messages to a file in a
// private temporary folder. It remembers the processes it started, so that a
// program that is stopped can end them; leaving the window never does.
class DetachedLauncher : public DecoderLauncher {
public:
    DcrawRun launch(const DecoderStart& start) override;
    DcrawRun start(const QString& program, const QStringList& arguments) override;
    DcrawRun startKeepingOutput(const QString& program, const QStringList& arguments) override;
    bool ended(const DcrawRun& run) const override;

    // Threads each decoder may use (dcraw_emu's OpenMP threads), unless the
    // user's environment says otherwise; 0 (the default): as many as it likes.
    void setThreads(int threads) { threads_ = threads; }

    // For a program that is being stopped; safe from any thread. Kills every
    // decoder this launcher started that still runs, waits until they are
    // gone, removes the partial files of all its runs and the TIFFs the
    // killed ones were writing, and refuses to start any more. Returns how
    // many it killed.
    int stopAll();

protected:
    // dcraw: "dcraw -i" succeeds. LibRaw: raw-identify, beside dcraw_emu,
    // names the camera (it exits with 0 either way); without raw-identify
    // the development itself will tell.
    bool identifies(const Decoder& decoder, const QString& rawPath) override;

private:
    void forgetEnded();  // with mutex_ held

    struct Started {
        qint64 pid = 0;
        qint64 startTicks = -1;
        QString tiff, partial;
    };
    std::mutex mutex_;  // held while a process starts, so none escapes stopAll
    std::vector<Started> started_;
    bool stopped_ = false;
    int threads_ = 0;
};

// Removes the folder of the decoders' message files; for a program that ends
// without running its destructors.
void removeDecoderMessageFolder();

// Starts `decoder` with `arguments` and names the run's awaited TIFF and the
// RAW file its failure report names. A start that fails gives pid 0, which
// has ended at once.
DcrawRun startRun(DecoderLauncher& launcher, const Decoder& decoder, const QStringList& arguments,
                  const QString& tiff, const QString& rawPath);

// Starts `decoder` on one RAW file with `options` so that its TIFF ends up as
// `tiff`: beside the RAW file the decoder writes it itself; elsewhere it
// writes a hidden partial file beside `tiff`, which checkRun renames.
DcrawRun startRunInto(DecoderLauncher& launcher, const Decoder& decoder,
                      const QStringList& options, const QString& rawPath, const QString& tiff);

enum class RunState { Pending, Complete, Failed };

// Complete when the awaited TIFF is whole; failed when the process has ended
// without leaving a whole TIFF; pending otherwise. A run with a partial file
// is complete once its process has ended and the file, whole, has been
// renamed to the TIFF; a partial file that is not whole is removed.
RunState checkRun(const DcrawRun& run, const DecoderLauncher& launcher);

// Reports a run whose decoder ended without a whole TIFF: "DCRAW could not
// develop " (or "LibRaw could not develop ") + its RAW name and the decoder's
// last message line, in the log and
// an ERROR box. `endsOperation` adds the "DONE" that closes the log of an
// operation that ends with this failure.
void reportFailedRun(const DcrawRun& run, Reporter& reporter, bool endsOperation);

// The last non-empty line the decoder printed on standard error ("" when
// none): dcraw's last word, or dcraw_emu's "Cannot open X: ..." line.
QString lastMessageLine(const DcrawRun& run);
// Everything it printed on standard error so far.
QString allMessages(const DcrawRun& run);
