// Preview box painting and mouse positions.
#include "app/preview_box.h"

#include <QMouseEvent>
#include <QPainter>

PreviewBox::PreviewBox(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);  // the read-out follows the pointer without a button
}

void PreviewBox::setPicture(const QImage& picture) {
    picture_ = picture;
    dismissResult();
    update();
}

void PreviewBox::showResult(const QImage& picture, const QString& caption) {
    result_ = picture;
    caption_ = caption;
    update();
}

void PreviewBox::dismissResult() {
    if (result_.isNull() && caption_.isEmpty()) return;
    result_ = QImage();
    caption_.clear();
    update();
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

void PreviewBox::mousePressEvent(QMouseEvent* event) {
    const QPointF p = inner(event);
    emit mouseDown(static_cast<float>(p.x()), static_cast<float>(p.y()));
}

void PreviewBox::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = inner(event);
    emit mouseMove(static_cast<float>(p.x()), static_cast<float>(p.y()));
}

void PreviewBox::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF p = inner(event);
    emit mouseUp(static_cast<float>(p.x()), static_cast<float>(p.y()));
}
