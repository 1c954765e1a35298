// A decoder that never runs dcraw: it records what it was asked and when, and
// plays each run's end as the test wants (by hand, after a time, or when the
// test itself has written the TIFF).
#pragma once

#include "develop/dcraw_process.h"

#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <vector>

class FakeDecoder : public DecoderLauncher {
  public:
    FakeDecoder();

    DcrawRun start(const QString& program, const QStringList& arguments) override;
    bool ended(const DcrawRun& run) const override;

    struct Call {
        QString program;
        QStringList arguments;
        qint64 pid = 0;
        QString messagesPath;
        double startMs = 0;
        double endMs = -1;  // -1 while it runs
    };
    std::vector<Call> calls;

    // Every run has ended (whatever else is set).
    bool hasEnded = false;
    // A run has ended once the TIFF of its last argument is whole: the test
    // played dcraw by writing it.
    bool endWhenTiffWritten = true;
    // > 0: each run lasts this long, then writes its TIFF with `develop`
    // (unless its RAW file's name is in `failing`) and ends.
    int durationMs = 0;
    std::function<void(const QString& rawPath)> develop;
    QSet<QString> failing;
    // What each run prints: its messages file gets `messages(raw path)`.
    std::function<QByteArray(const QString& rawPath)> messages;
    // RAW file names each decoder cannot identify (every other it reads), and
    // the identifications asked for, as "dcraw name" or "LibRaw name".
    QSet<QString> dcrawCannotRead, libRawCannotRead;
    QStringList identifications;

    // Ends run `index` (0-based in calls), after writing its TIFF when asked.
    void end(size_t index, bool writeTiff);
    // The most runs that were running at one moment.
    int maxOverlap() const;
    // Calls whose last argument is this RAW path.
    int startsOf(const QString& rawPath) const;

  protected:
    bool identifies(const Decoder& decoder, const QString& rawPath) override;

  private:
    Call* find(qint64 pid) const;
    void finish(Call& call, bool writeTiff) const;
    double now() const;

    QElapsedTimer clock_;
    QTemporaryDir messagesDir_;
};
