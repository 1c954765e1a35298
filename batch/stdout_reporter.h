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
    // Nothing more is printed: the batch is being stopped. Safe from any thread.
    void silence() { silenced_ = true; }

  private:
    void clearProgress();

    std::FILE* out_;
    std::FILE* err_;
    bool progress_;
    bool progressShown_ = false;
    bool anything_ = false;
    std::atomic<bool> silenced_{false};
};
