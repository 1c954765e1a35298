// Reporting into the main window's controls.
#include "app/window_reporter.h"

#include "app/frm_main.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

void WindowReporter::EscribirEstado(const QString& text, bool append) {
    QString log = window_.statusText();
    appendStatusLine(log, text, append);
    window_.setStatusText(log);
    processEvents();
}

void WindowReporter::MostrarComando(const QString& text) {
    window_.showCommandLine(text);
    processEvents();
}

void WindowReporter::showMessage(const QString& title, const QString& text) {
    if (window_.hooks().messageBox) window_.hooks().messageBox(title, text);
}

void WindowReporter::showProgress(const QString& text) { window_.lblXY->setText(text); }

void WindowReporter::beep() {
    if (window_.hooks().beep) window_.hooks().beep();
}

void WindowReporter::processEvents() { QCoreApplication::processEvents(); }

void WindowReporter::pause(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void WindowReporter::showResult(ResultKind kind, const QString& path, const QImage& picture) {
    window_.keepResult(kind, path, picture);
}

void WindowReporter::stageProgress(int percent) {
    window_.lblXY->setText(QString::number(percent) + QStringLiteral("%"));
    processEvents();
}
