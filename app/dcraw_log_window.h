// A small window that shows what dcraw prints while a visible run works.
#pragma once

#include "develop/dcraw_process.h"

#include <QWidget>

class QPlainTextEdit;
class QTimer;

class DcrawLogWindow : public QWidget {
    Q_OBJECT
public:
    explicit DcrawLogWindow(QWidget* owner);
    // Shows the window and follows the run's messages until finish().
    void follow(const DcrawRun& run);
    // Reads the last messages once more and closes.
    void finish();
    QString text() const;

private:
    void refresh();
    QPlainTextEdit* view_ = nullptr;
    QTimer* timer_ = nullptr;
    DcrawRun run_;
};
