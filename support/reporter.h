// The one channel through which every procedure tells the user what happens:
// status log, command label, message boxes, beep, progress read-out.
#pragma once

#include <QString>

class QImage;

// Appends or restarts a status log text as the window shows it: every line
// ends with CR LF; append false drops what was there.
void appendStatusLine(QString& log, const QString& text, bool append);

// The three-line text of the unexpected-error box.
QString unexpectedErrorText(const QString& module, int number, const QString& description);

// Contact line of the error report: the project's own.
extern const char* const kContactAddress;

// What a finished step wrote, for a window that shows it.
enum class ResultKind { Histogram, Map, Output, Sheet, Moving };

class Reporter {
  public:
    virtual ~Reporter() = default;

    // Status log. append false restarts the log with this one line.
    virtual void EscribirEstado(const QString& text, bool append) = 0;
    // The dcraw command-line label; pending events run afterwards.
    virtual void MostrarComando(const QString& text) = 0;
    // A modal box with one OK button and no icon.
    virtual void showMessage(const QString& title, const QString& text) = 0;
    // The lblXY read-out (patch coordinates, progress).
    virtual void showProgress(const QString& text) = 0;
    virtual void beep() = 0;
    // Lets the window repaint and run due timers.
    virtual void processEvents() = 0;
    // A fixed wait inside an operation (the window may keep painting).
    virtual void pause(int milliseconds);
    // A file just written, with a reduced copy of its picture (see
    // support/reduced_picture.h) so it need not be read again. Only a window
    // shows it; other reporters ignore it.
    virtual void showResult(ResultKind kind, const QString& path, const QImage& picture);
    // Whether showResult is worth its reduced copy: a headless run makes none.
    virtual bool showsResults() const { return false; }
    // How far a long stage has come (0..100), for stages the lblXY read-out
    // did not count before; a window shows it and repaints.
    virtual void stageProgress(int percent);
    // A file the operation has just written whole (a failed save is not
    // told). The batch names a set's files from these.
    virtual void fileWritten(const QString&) {}

    void MostrarAviso(const QString& text) { showMessage(QStringLiteral("WARNING"), text); }
    void MostrarError(const QString& text) { showMessage(QStringLiteral("ERROR"), text); }

    // The unexpected-error report. Called inside a catch block it reports the
    // exception being handled; elsewhere (a library failure) number 0 and an
    // empty description, as no run-time failure is pending.
    void InformarError(const QString& module);
    void InformarError(const QString& module, int number, const QString& description);
};
