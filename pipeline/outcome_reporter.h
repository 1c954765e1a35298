// A reporter between a stage and the front end's reporter: passes everything
// on, and keeps what makes the stage's outcome (ERROR boxes, files written).
#pragma once

#include "support/reporter.h"

#include <QStringList>

class OutcomeReporter : public Reporter {
  public:
    explicit OutcomeReporter(Reporter& inner) : inner_(inner) {}

    void EscribirEstado(const QString& text, bool append) override {
        inner_.EscribirEstado(text, append);
    }
    void MostrarComando(const QString& text) override { inner_.MostrarComando(text); }
    void showMessage(const QString& title, const QString& text) override {
        if (title == QStringLiteral("ERROR")) {
            failed_ = true;
            message_ = text;
        }
        inner_.showMessage(title, text);
    }
    void showProgress(const QString& text) override { inner_.showProgress(text); }
    void beep() override { inner_.beep(); }
    void processEvents() override { inner_.processEvents(); }
    void pause(int milliseconds) override { inner_.pause(milliseconds); }
    void showResult(ResultKind kind, const QString& path, const QImage& picture) override {
        inner_.showResult(kind, path, picture);
    }
    bool showsResults() const override { return inner_.showsResults(); }
    void stageProgress(int percent) override { inner_.stageProgress(percent); }
    void fileWritten(const QString& path) override {
        files_ << path;
        inner_.fileWritten(path);
    }

    // Whether an ERROR box was shown, and the last one's text.
    bool failed() const { return failed_; }
    const QString& message() const { return message_; }
    const QStringList& files() const { return files_; }
    // Boxes so far are not the stage's failure (a told limit, say).
    void forgetBoxes() {
        failed_ = false;
        message_.clear();
    }

  private:
    Reporter& inner_;
    bool failed_ = false;
    QString message_;
    QStringList files_;
};
