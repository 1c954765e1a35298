// Checks made inside a forked child (where GoogleTest's assertions do not
// reach the test) and a reporter that keeps every status line, for the tests
// that run procedures under file-size and memory limits.
#pragma once

#include "support/recording_reporter.h"
#include "tests/common/child_process.h"

#include <QString>
#include <QStringList>
#include <functional>

// What a child found wrong; empty when everything held.
struct Findings {
    QStringList problems;
    void check(bool ok, const QString& what) {
        if (!ok) problems << what;
    }
};

// Runs `body` in a child under `limits` and returns what it found wrong,
// joined by line breaks ("" when nothing); a child that died reports that.
QString checkInChild(const ChildLimits& limits, const std::function<void(Findings&)>& body);

// Keeps every status line, also those a restarted log drops, so that what a
// procedure said before its failure can be read back.
class HistoryReporter : public RecordingReporter {
  public:
    void EscribirEstado(const QString& text, bool append) override {
        history << text;
        RecordingReporter::EscribirEstado(text, append);
    }
    // The first capture of `pattern` over all lines written, or "".
    QString find(const QString& pattern) const;
    int boxesMentioning(const QString& text) const;
    // An unexpected-error box naming `module` with error number 7.
    bool reportedOutOfMemory(const QString& module) const;
    QString all() const { return history.join(QStringLiteral(" | ")); }

    QStringList history;
};

// In a child: lets it map `budget` bytes beyond what it has mapped now. The
// free heap it inherited is taken up first and large blocks get fresh address
// space from then on, so that the budget is all there is. False when the
// limit cannot be set.
bool limitAddressSpaceFromNow(long long budget);
