// Reporting without a window: status lines on standard output, message boxes
// on standard error, and a one-line progress read-out on a terminal.
#pragma once

#include "support/reporter.h"

#include <QStringList>
#include <atomic>
#include <cstdio>

class StdoutReporter : public Reporter {
  public:
    // `progressOnTerminal` false keeps the read-out off even on a terminal.
    StdoutReporter(std::FILE* out, std::FILE* err, bool progressOnTerminal = true);

    void EscribirEstado(const QString& text, bool append) override;
    void MostrarComando(const QString&) override {}
    void showMessage(const QString& title, const QString& text) override;
    void showProgress(const QString& text) override;
    void beep() override {}
    void processEvents() override {}
    void fileWritten(const QString& path) override;

    // Whether any ERROR box or unexpected-error report was shown since the last reset.
    bool errorShown() const { return errorShown_; }
    void resetErrors() {
        errorShown_ = false;
        lastError_.clear();
    }
    // The text of the last ERROR box since the reset.
    const QString& lastError() const { return lastError_; }
    // The files reported written since the last call, in the order told.
    QStringList takeWritten();
    // Nothing more is printed: the batch is being stopped. Safe from any thread.
    void silence() { silenced_ = true; }

  private:
    void clearProgress();

    std::FILE* out_;
    std::FILE* err_;
    bool progress_;
    bool progressShown_ = false;
    bool anything_ = false;
    bool errorShown_ = false;
    QString lastError_;
    QStringList written_;
    std::atomic<bool> silenced_{false};
};
