// Status lines as plain text lines, boxes as prefixed lines.
#include "batch/stdout_reporter.h"

#include <unistd.h>
#include <utility>

namespace {

QByteArray lines(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t.toLocal8Bit();
}

}  // namespace

StdoutReporter::StdoutReporter(std::FILE* out, std::FILE* err, bool progressOnTerminal)
    : out_(out), err_(err), progress_(progressOnTerminal && isatty(fileno(err)) == 1) {}

void StdoutReporter::clearProgress() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    progressShown_ = false;
}

void StdoutReporter::EscribirEstado(const QString& text, bool append) {
    if (silenced_) return;
    clearProgress();
    // A restarted log begins a new block.
    if (!append && anything_) std::fputc('\n', out_);
    std::fputs(lines(text).constData(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
    anything_ = true;
}

void StdoutReporter::showMessage(const QString& title, const QString& text) {
    if (silenced_) return;
    clearProgress();
    std::fputs((lines(title) + ": " + lines(text) + "\n").constData(), err_);
    std::fflush(err_);
}

void StdoutReporter::showProgress(const QString& text) {
    if (!progress_ || silenced_) return;
    std::fputs(("\r\033[K" + lines(text)).constData(), err_);
    std::fflush(err_);
    progressShown_ = true;
}

