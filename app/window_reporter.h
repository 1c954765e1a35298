// The main window's side of reporting: the status log box, the command label,
// message boxes, the read-out label, the beep.
#pragma once

#include "support/reporter.h"

#include <functional>

class frmMain;

class WindowReporter : public Reporter {
  public:
    explicit WindowReporter(frmMain& window) : window_(window) {}
    void EscribirEstado(const QString& text, bool append) override;
    void MostrarComando(const QString& text) override;
    void showMessage(const QString& title, const QString& text) override;
    void showProgress(const QString& text) override;
    void beep() override;
    void processEvents() override;
    // Waits without freezing the window.
    void pause(int milliseconds) override;
    void showResult(ResultKind kind, const QString& path, const QImage& picture) override;
    bool showsResults() const override { return true; }
    void stageProgress(int percent) override;

  private:
    frmMain& window_;
};
