// Starting the decoder as a separate process and learning how a run ended.
// The process is started detached: leaving the program never stops it, and
// its only way back is the TIFF it writes (and its messages, kept in a file).
#pragma once

#include "develop/decoder.h"
#include "support/paths.h"

#include <QHash>
#include <QString>
#include <QStringList>

class Reporter;

struct DcrawRun {
    qint64 pid = 0;           // 0 when it could not be started
    qint64 startTicks = -1;   // process start time, to tell a reused pid apart
    QString messagesPath;     // the decoder's errors and messages (its standard error)
    QString progressPath;     // its standard output, when it prints progress there
    QString tiff;             // the file the run waits for
    QString rawName;          // the RAW file named in a failure report
    QString decoderName = QStringLiteral("DCRAW");  // the decoder a failure report names
};

class DecoderLauncher {
public:
    virtual ~DecoderLauncher() = default;
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
// private temporary folder.
class DetachedLauncher : public DecoderLauncher {
public:
    DcrawRun start(const QString& program, const QStringList& arguments) override;
    DcrawRun startKeepingOutput(const QString& program, const QStringList& arguments) override;
    bool ended(const DcrawRun& run) const override;

protected:
    // dcraw: "dcraw -i" succeeds. LibRaw: raw-identify, beside dcraw_emu,
    // names the camera (it exits with 0 either way); without raw-identify
    // the development itself will tell.
    bool identifies(const Decoder& decoder, const QString& rawPath) override;

private:
    DcrawRun launch(const QString& program, const QStringList& arguments, bool keepStdout);
};

// Starts `decoder` with `arguments` and names the run's awaited TIFF and the
// RAW file its failure report names. A start that fails gives pid 0, which
// has ended at once.
DcrawRun startRun(DecoderLauncher& launcher, const Decoder& decoder, const QStringList& arguments,
                  const QString& tiff, const QString& rawPath);

enum class RunState { Pending, Complete, Failed };

// Complete when the awaited TIFF is whole; failed when the process has ended
// without leaving a whole TIFF; pending otherwise.
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
