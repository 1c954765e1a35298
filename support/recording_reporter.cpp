// Recording reporter used by tests and windowless runs.
#include "support/recording_reporter.h"

void RecordingReporter::EscribirEstado(const QString& text, bool append) {
    appendStatusLine(log, text, append);
    processEvents();
}

void RecordingReporter::showMessage(const QString& title, const QString& text) {
    boxes.push_back({title, text});
}

QStringList RecordingReporter::logLines() const {
    QStringList lines = log.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
    return lines;
}
