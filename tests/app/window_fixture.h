// A real main window on the offscreen platform with the desktop replaced:
// boxes and the file dialog are recorded, the decoder may be faked.
#pragma once

#include "app/frm_intro.h"
#include "app/dcraw_log_window.h"
#include "app/frm_main.h"
#include "app/preview_box.h"
#include "develop/dcraw_process.h"
#include "tests/common/fake_decoder.h"
#include "tests/common/qt_printers.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// The window tests' decoder: see FakeDecoder.
using FakeLauncher = FakeDecoder;

struct RecordedBox {
    QString title;
    QString text;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(locale());
        WindowHooks hooks;
        hooks.openFile = [this](const QString& title, const QString& filter) {
            dialogTitle = title;
            dialogFilter = filter;
            ++dialogs;
            return nextFile;
        };
        hooks.messageBox = [this](const QString& title, const QString& text) {
            boxes.push_back({title, text});
        };
        hooks.openUrl = [this](const QUrl& url) { urls.push_back(url); };
        hooks.beep = [this] { ++beeps; };
        hooks.rutaDCRAW = decoderPath();
        hooks.launcher = launcherFor();
        hooks.highlightWaitMs = 50;
        hooks.maxDecoders = maxDecoders();
        adjustHooks(hooks);
        window = std::make_unique<frmMain>(hooks);
        window->Form_Load();
        window->intro()->cmdStart->click();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        window.reset();
        QCoreApplication::processEvents();
        QLocale::setDefault(QLocale::c());
    }

    virtual QLocale locale() const { return QLocale::c(); }
    virtual QString decoderPath() const { return RutaDCRAW; }
    virtual std::shared_ptr<DecoderLauncher> launcherFor() { return fake; }
    // As on a two-core machine, whatever this one has.
    virtual int maxDecoders() const { return 2; }
    virtual void adjustHooks(WindowHooks&) {}

    // Pumps events until `done` holds or `ms` pass; returns `done()`.
    static bool waitFor(const std::function<bool()>& done, int ms) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QTest::qWait(10);
        }
        return done();
    }

    // Moves the keyboard focus into a box and out again, as a user tabbing on.
    void leave(QWidget* box) {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(box, &out);
    }
    void typeInto(QLineEdit* box, const QString& text) {
        box->clear();
        QTest::keyClicks(box, text);
    }
    // Picks a list item with the mouse: the list's click handler runs.
    void pick(QComboBox* list, int index) {
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    QStringList logLines() const {
        QStringList lines = window->statusText().split("\r\n");
        if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
        return lines;
    }

    std::shared_ptr<FakeLauncher> fake = std::make_shared<FakeLauncher>();
    std::unique_ptr<frmMain> window;
    std::vector<RecordedBox> boxes;
    std::vector<QUrl> urls;
    QString nextFile, dialogTitle, dialogFilter;
    int dialogs = 0;
    int beeps = 0;
};
