// The "DCRAW" log window: a read-only view of the decoder's messages.
#include "app/dcraw_log_window.h"

#include "develop/dcraw_messages.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

DcrawLogWindow::DcrawLogWindow(QWidget* owner) : QWidget(owner, Qt::Tool) {
    setObjectName(QStringLiteral("DcrawLogWindow"));
    setWindowTitle(QStringLiteral("DCRAW"));
    resize(520, 220);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    view_ = new QPlainTextEdit(this);
    view_->setReadOnly(true);
    QFont mono(QStringLiteral("Courier New"));
    mono.setStyleHint(QFont::TypeWriter);
    mono.setPointSizeF(9);
    view_->setFont(mono);
    layout->addWidget(view_);
    timer_ = new QTimer(this);
    timer_->setInterval(250);
    connect(timer_, &QTimer::timeout, this, [this] { refresh(false); });
}

void DcrawLogWindow::follow(DcrawMessageFeed& feed) {
    feed_ = &feed;
    view_->clear();
    if (parentWidget()) {
        // Beside the main window's preview, not over the buttons.
        const QRect owner = parentWidget()->frameGeometry();
        move(owner.left() + 40, owner.top() + 60);
    }
    show();
    raise();
    timer_->start();
    refresh(false);
}

void DcrawLogWindow::refresh(bool flush) {
    if (!feed_) return;
    const QStringList lines = feed_->readNew(flush);
    if (lines.isEmpty()) return;
    view_->appendPlainText(lines.join(QLatin1Char('\n')));
    view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->maximum());
}

void DcrawLogWindow::finish() {
    timer_->stop();
    refresh(true);
    feed_ = nullptr;
    hide();
}

QString DcrawLogWindow::text() const { return view_->toPlainText(); }
