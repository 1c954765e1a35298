// Drawing, zooming and panning in the viewer.
#include "app/viewer_canvas.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

namespace {

// The neutral dark grey of the preview box around a picture.
const QRgb kBackground = qRgb(64, 64, 64);

}  // namespace

ViewerCanvas::ViewerCanvas(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);  // the read-out follows the pointer
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::OpenHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
}

QSize ViewerCanvas::deviceSize() const {
    const double r = devicePixelRatioF();
    return QSize(static_cast<int>(std::lround(width() * r)),
                 static_cast<int>(std::lround(height() * r)));
}

void ViewerCanvas::setPicture(std::shared_ptr<const PicturePyramid> picture) {
    const QPointF centre = viewCentre(placement_, deviceSize());
    const QSize before = picture_ ? picture_->size() : shownSize_;
    picture_ = std::move(picture);
    shownSize_ = picture_->size();
    if (fitting_)
        place(fitted(shownSize_, deviceSize()), true);
    else if (shownSize_ == before)
        place(placement_, false);  // the same place to the device pixel
    else
        place(centredOn(centre, placement_.scale, deviceSize()), false);
}

void ViewerCanvas::clearPicture() {
    picture_.reset();
    view_ = QImage();
    viewStale_ = true;
    update();
}

void ViewerCanvas::levelsAdded() {
    viewStale_ = true;
    update();
}

void ViewerCanvas::place(const ViewPlacement& placement, bool fitting) {
    fitting_ = fitting;
    placement_ = picture_ ? clamped(placement, picture_->size(), deviceSize()) : placement;
    viewStale_ = true;
    update();
    emit placementChanged();
    emit pointerChanged();
}

void ViewerCanvas::fit() {
    fitting_ = true;
    if (picture_) place(fitted(picture_->size(), deviceSize()), true);
}

QPointF ViewerCanvas::zoomAnchor() const {
    if (pixelUnderPointer()) return toDevice(*pointer_);
    return placement_.toDevice(viewCentre(placement_, deviceSize()));
}

void ViewerCanvas::zoomTo(double scale) {
    if (picture_) place(zoomedAbout(placement_, scale, zoomAnchor()), false);
}

void ViewerCanvas::actualPixels() {
    if (!picture_) return;
    if (const std::optional<QPoint> p = pixelUnderPointer())
        place(centredOn(QPointF(p->x() + 0.5, p->y() + 0.5), 1, deviceSize()), false);
    else
        place(centredOn(viewCentre(placement_, deviceSize()), 1, deviceSize()), false);
}

std::optional<QPoint> ViewerCanvas::pixelAt(QPointF position) const {
    if (!picture_ || !rect().contains(position.toPoint())) return std::nullopt;
    const QPoint p = placement_.pixelAt(toDevice(position));
    if (p.x() < 0 || p.y() < 0 || p.x() >= picture_->size().width() ||
        p.y() >= picture_->size().height())
        return std::nullopt;
    return p;
}

std::optional<QPoint> ViewerCanvas::pixelUnderPointer() const {
    return pointer_ ? pixelAt(*pointer_) : std::nullopt;
}

void ViewerCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!picture_) {
        painter.fillRect(rect(), QColor(kBackground));
        return;
    }
    const QSize device = deviceSize();
    if (viewStale_ || view_.size() != device) {
        view_ = renderView(*picture_, placement_, device, kBackground);
        view_.setDevicePixelRatio(devicePixelRatioF());
        viewStale_ = false;
    }
    painter.drawImage(QPointF(0, 0), view_);
}

void ViewerCanvas::resizeEvent(QResizeEvent* event) {
    if (!picture_) return;
    if (fitting_) {
        place(fitted(picture_->size(), deviceSize()), true);
        return;
    }
    // The picture point in the middle stays there.
    const double r = devicePixelRatioF();
    const QSize before(static_cast<int>(std::lround(event->oldSize().width() * r)),
                       static_cast<int>(std::lround(event->oldSize().height() * r)));
    place(centredOn(viewCentre(placement_, before), placement_.scale, deviceSize()), false);
}

void ViewerCanvas::wheelEvent(QWheelEvent* event) {
    pointer_ = event->position();
    wheelAngle_ += event->angleDelta().y();
    const int steps = wheelAngle_ / 120;  // one notch of a common wheel
    if (steps == 0 || !picture_) return;
    wheelAngle_ -= steps * 120;
    const double least = fitScale(picture_->size(), deviceSize()) / 2;
    place(zoomedAbout(placement_, wheelScale(placement_.scale, steps, least),
                      toDevice(event->position())),
          false);
    event->accept();
}

void ViewerCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragFrom_ = event->position();
    setCursor(Qt::ClosedHandCursor);
}

void ViewerCanvas::mouseMoveEvent(QMouseEvent* event) {
    pointer_ = event->position();
    if (dragFrom_ && picture_) {
        ViewPlacement moved = placement_;
        moved.origin += toDevice(event->position()) - toDevice(*dragFrom_);
        dragFrom_ = event->position();
        place(moved, false);
        return;
    }
    emit pointerChanged();
}

void ViewerCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragFrom_.reset();
    setCursor(Qt::OpenHandCursor);
}

void ViewerCanvas::leaveEvent(QEvent*) {
    pointer_.reset();
    emit pointerChanged();
}
