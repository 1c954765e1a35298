// Starting the decoder as a separate process and learning how a run ended.
// The process is started detached: leaving the program never stops it, and
// its only way back is the TIFF it writes (and its messages, kept in a file).
#pragma once

#include <QString>
#include <QStringList>

class Reporter;

struct DcrawRun {
    qint64 pid = 0;           // 0 when it could not be started
    qint64 startTicks = -1;   // process start time, to tell a reused pid apart
    QString messagesPath;     // the decoder's messages (its standard error)
    QString tiff;             // the file the run waits for
    QString rawName;          // the RAW file named in a failure report
};

class DecoderLauncher {
public:
    virtual ~DecoderLauncher() = default;
    // Starts `program` with `arguments` (no shell). Returns the run; pid 0
    // when the start failed.
    virtual DcrawRun start(const QString& program, const QStringList& arguments) = 0;
    // True once the process has ended (or never started).
    virtual bool ended(const DcrawRun& run) const = 0;
};

// The real launcher: QProcess::startDetached with messages to a file in a
// private temporary folder.
class DetachedLauncher : public DecoderLauncher {
public:
    DcrawRun start(const QString& program, const QStringList& arguments) override;
    bool ended(const DcrawRun& run) const override;
};

// Starts `program` with `arguments` and names the run's awaited TIFF and the
// RAW file its failure report names. A start that fails gives pid 0, which
// has ended at once.
DcrawRun startRun(DecoderLauncher& launcher, const QString& program, const QStringList& arguments,
                  const QString& tiff, const QString& rawPath);

enum class RunState { Pending, Complete, Failed };

// Complete when the awaited TIFF is whole; failed when the process has ended
// without leaving a whole TIFF; pending otherwise.
RunState checkRun(const DcrawRun& run, const DecoderLauncher& launcher);

// Reports a run whose decoder ended without a whole TIFF: "DCRAW could not
// develop " + its RAW name and the decoder's last message line, in the log and
// an ERROR box. `endsOperation` adds the "DONE" that closes the log of an
// operation that ends with this failure.
void reportFailedRun(const DcrawRun& run, Reporter& reporter, bool endsOperation);

// The last non-empty line the decoder printed ("" when none).
QString lastMessageLine(const DcrawRun& run);
// Everything it printed so far.
QString allMessages(const DcrawRun& run);

// The developed TIFF of a RAW path: its name with ".tiff" for the extension.
QString tiffDeRaw(const QString& rawPath);
