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
    update();
}

void PreviewBox::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.fillRect(area, QColor(64, 64, 64));
        if (!picture_.isNull()) painter.drawImage(area.topLeft(), picture_);
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
