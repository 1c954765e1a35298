// A Reporter that records everything instead of showing it: for tests and
// for runs without a window.
#pragma once

#include "support/reporter.h"

#include <QImage>
#include <QStringList>
#include <functional>
#include <vector>

class RecordingReporter : public Reporter {
  public:
    struct Box {
        QString title;
        QString text;
    };

    void EscribirEstado(const QString& text, bool append) override;
    void MostrarComando(const QString& text) override { commands.push_back(text); }
    void showMessage(const QString& title, const QString& text) override;
    void showProgress(const QString& text) override { progress.push_back(text); }
    void beep() override { ++beeps; }
    void processEvents() override {
        ++eventPumps;
        if (onProcessEvents) onProcessEvents();
    }

    void pause(int milliseconds) override { pauses.push_back(milliseconds); }
    void showResult(ResultKind kind, const QString& path, const QImage& picture) override {
        results.push_back({kind, path, picture});
    }
    bool showsResults() const override { return true; }
    void stageProgress(int percent) override { stages.push_back(percent); }
    void fileWritten(const QString& path) override { written.push_back(path); }

    // The log split into its lines (without line ends).
    QStringList logLines() const;

    QString log;
    QStringList commands;
    QStringList progress;
    std::vector<Box> boxes;
    int beeps = 0;
    int eventPumps = 0;
    std::vector<int> pauses;
    struct Result {
        ResultKind kind;
        QString path;
        QImage picture;
    };
    std::vector<Result> results;
    std::vector<int> stages;
    QStringList written;
    std::function<void()> onProcessEvents;
};
