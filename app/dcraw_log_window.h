// A small window that shows what dcraw prints while a visible development
// works: every process's lines, each prefixed by its RAW file's name.
#pragma once

#include <QWidget>

class DcrawMessageFeed;
class QPlainTextEdit;
class QTimer;

class DcrawLogWindow : public QWidget {
    Q_OBJECT
public:
    explicit DcrawLogWindow(QWidget* owner);
    // Empties the view, shows the window and appends the feed's new lines
    // until finish(). The feed must outlive the following.
    void follow(DcrawMessageFeed& feed);
    // Takes the feed's last lines and closes.
    void finish();
    QString text() const;

private:
    void refresh(bool flush);
    QPlainTextEdit* view_ = nullptr;
    QTimer* timer_ = nullptr;
    DcrawMessageFeed* feed_ = nullptr;
};
