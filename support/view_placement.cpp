// Zoom and pan arithmetic of the viewer.
#include "support/view_placement.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLargestScale = 16;

// Centre of the device pixel that holds `device`.
QPointF pixelCentre(QPointF device) {
    return QPointF(std::floor(device.x()) + 0.5, std::floor(device.y()) + 0.5);
}

// The middle of a view: the centre of its middle device pixel, so that a
// picture pixel centred there fills one device pixel, not four halves.
QPointF middle(QSize view) {
    return QPointF(view.width() / 2 + 0.5, view.height() / 2 + 0.5);
}

// One axis of clamped(): the origin that keeps the view's middle over a
// picture of `length` pixels, or centres a picture shorter than the view.
double clampedOrigin(double origin, double scale, int length, int view) {
    const double shown = length * scale;
    if (shown <= view) return (view - shown) / 2;
    return std::clamp(origin, view / 2.0 - shown, view / 2.0);
}

}  // namespace

QPoint ViewPlacement::pixelAt(QPointF device) const {
    const QPointF p = toPicture(pixelCentre(device));
    return QPoint(static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y())));
}

double fitScale(QSize picture, QSize view) {
    if (picture.isEmpty() || view.isEmpty()) return 1;
    return std::min({1.0, static_cast<double>(view.width()) / picture.width(),
                     static_cast<double>(view.height()) / picture.height()});
}

ViewPlacement fitted(QSize picture, QSize view) {
    return centredOn(QPointF(picture.width() / 2.0, picture.height() / 2.0),
                     fitScale(picture, view), view);
}

ViewPlacement zoomedAbout(const ViewPlacement& placement, double scale, QPointF anchor) {
    // The anchor's pixel centre keeps its picture point, so the pixel under
    // the pointer stays under it at any scale.
    const QPointF c = pixelCentre(anchor);
    return {scale, c - placement.toPicture(c) * scale};
}

ViewPlacement centredOn(QPointF centre, double scale, QSize view) {
    return {scale, middle(view) - centre * scale};
}

QPointF viewCentre(const ViewPlacement& placement, QSize view) {
    return placement.toPicture(middle(view));
}

ViewPlacement clamped(const ViewPlacement& placement, QSize picture, QSize view) {
    ViewPlacement p = placement;
    p.origin = QPointF(clampedOrigin(p.origin.x(), p.scale, picture.width(), view.width()),
                       clampedOrigin(p.origin.y(), p.scale, picture.height(), view.height()));
    return p;
}

double wheelScale(double scale, int steps, double minimum) {
    // The step index of the scale, so that a scale between two steps goes to
    // the next one in the direction asked, not two.
    const double k = 4 * std::log2(scale);
    const double next = steps > 0 ? std::floor(k + 1e-9) + steps : std::ceil(k - 1e-9) + steps;
    return std::clamp(std::exp2(next / 4), std::min(minimum, 1.0), kLargestScale);
}
