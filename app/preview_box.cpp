// Preview box painting, mouse positions and double-clicks.
#include "app/preview_box.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

PreviewBox::PreviewBox(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);  // the read-out follows the pointer without a button
    heldTimer_.setSingleShot(true);
    connect(&heldTimer_, &QTimer::timeout, this, [this] { deliverClick(); });
}

void PreviewBox::setPicture(const QImage& picture) {
    picture_ = picture;
    dismissResult();
    putAwayResult_ = QImage();  // a new preview is not to be undone
    update();
    emit contentChanged();
}

void PreviewBox::showResult(const QImage& picture, const QString& caption) {
    result_ = picture;
    caption_ = caption;
    update();
    emit contentChanged();
}

void PreviewBox::dismissResult() {
    if (result_.isNull() && caption_.isEmpty()) return;
    putAwayResult_ = result_;
    putAwayCaption_ = caption_;
    putAwayClock_.start();
    result_ = QImage();
    caption_.clear();
    update();
    emit contentChanged();
}

void PreviewBox::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.fillRect(area, QColor(64, 64, 64));
        const QImage& shown = showingResult() ? result_ : picture_;
        if (!shown.isNull()) painter.drawImage(area.topLeft(), shown);
        if (showingResult() && !caption_.isEmpty()) {
            // A small label in the bottom-left corner, legible on any picture.
            QFont small = font();
            small.setPointSizeF(8);
            painter.setFont(small);
            const QFontMetrics metrics(small);
            const QRect text = metrics.boundingRect(caption_).adjusted(-4, -2, 4, 2);
            const QRect label(area.left(), area.bottom() + 1 - text.height(), text.width(),
                              text.height());
            painter.fillRect(label, QColor(0, 0, 0, 160));
            painter.setPen(Qt::white);
            painter.drawText(label, Qt::AlignCenter, caption_);
        }
    }
    QFrame::paintEvent(event);  // the border
}

QPointF PreviewBox::inner(const QMouseEvent* event) const {
    return event->position() - QPointF(contentsRect().topLeft());
}

void PreviewBox::deliverClick() {
    if (!held_) return;
    const HeldClick click = *held_;
    held_.reset();
    heldTimer_.stop();
    emit mouseDown(static_cast<float>(click.press.x()), static_cast<float>(click.press.y()));
    if (click.release)
        emit mouseUp(static_cast<float>(click.release->x()),
                     static_cast<float>(click.release->y()));
}

void PreviewBox::mousePressEvent(QMouseEvent* event) {
    const QPointF p = inner(event);
    deliverClick();  // one held back still, from another button
    if (showingResult()) {
        emit mouseDown(static_cast<float>(p.x()), static_cast<float>(p.y()));
        return;
    }
    held_ = HeldClick{p, std::nullopt};
    heldTimer_.start(QApplication::doubleClickInterval());
}

void PreviewBox::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = inner(event);
    if (held_ && !held_->release) {
        // A press that moves far enough is a drag: it starts now. Smaller
        // moves change nothing the release will not set.
        if ((p - held_->press).manhattanLength() < QApplication::startDragDistance()) return;
        deliverClick();
    }
    emit mouseMove(static_cast<float>(p.x()), static_cast<float>(p.y()));
}

void PreviewBox::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF p = inner(event);
    if (swallowRelease_) {
        swallowRelease_ = false;
        return;
    }
    if (held_) {
        held_->release = p;
        return;
    }
    emit mouseUp(static_cast<float>(p.x()), static_cast<float>(p.y()));
}

void PreviewBox::mouseDoubleClickEvent(QMouseEvent*) {
    if (held_) {
        held_.reset();  // the first click of the pair does nothing
        heldTimer_.stop();
    } else if (!showingResult() && !putAwayResult_.isNull() &&
               putAwayClock_.elapsed() <= QApplication::doubleClickInterval()) {
        showResult(putAwayResult_, putAwayCaption_);
    }
    putAwayResult_ = QImage();
    swallowRelease_ = true;
    emit doubleClicked();
}
