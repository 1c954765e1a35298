// Reporting without a window: status lines on standard output, message boxes
// on standard error, and a one-line progress read-out on a terminal.
#pragma once

#include "support/reporter.h"

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

    // Whether any ERROR box or unexpected-error report was shown since the last reset.
    bool errorShown() const { return errorShown_; }
    void resetErrors() { errorShown_ = false; }

  private:
    void clearProgress();

    std::FILE* out_;
    std::FILE* err_;
    bool progress_;
    bool progressShown_ = false;
    bool anything_ = false;
    bool errorShown_ = false;
};
