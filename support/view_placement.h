// Where a picture sits in a view that zooms and pans: the arithmetic of a
// viewer, kept apart from its widgets. All positions are in device pixels of
// the view (logical pixels times the device pixel ratio), so that a scale of
// 1 shows one picture pixel on one device pixel.
#pragma once

#include <QPoint>
#include <QPointF>
#include <QSize>

struct ViewPlacement {
    double scale = 1;  // device pixels per picture pixel
    QPointF origin;    // device position of the picture's top-left corner

    // The picture point at a device point, and back.
    QPointF toPicture(QPointF device) const { return (device - origin) / scale; }
    QPointF toDevice(QPointF picture) const { return origin + picture * scale; }
    // The picture pixel shown on the device pixel that holds `device`: the
    // one under the centre of that device pixel.
    QPoint pixelAt(QPointF device) const;
};

// Largest scale that shows the whole picture, never above 1: a small picture
// is shown at 100 %, not blown up.
double fitScale(QSize picture, QSize view);
// The whole picture, centred.
ViewPlacement fitted(QSize picture, QSize view);
// `scale`, with the device pixel under `anchor` showing the same picture pixel
// as before.
ViewPlacement zoomedAbout(const ViewPlacement& placement, double scale, QPointF anchor);
// `scale`, with picture point `centre` at the middle of the view (the centre
// of its middle device pixel).
ViewPlacement centredOn(QPointF centre, double scale, QSize view);
// The picture point at the middle of the view.
QPointF viewCentre(const ViewPlacement& placement, QSize view);
// The view's middle kept over the picture, and a picture narrower (or
// shorter) than the view centred across (or along) it.
ViewPlacement clamped(const ViewPlacement& placement, QSize picture, QSize view);
// The scale `steps` wheel notches away: scales run through 2^(k/4), so 50 %,
// 100 % and 200 % are always on the way; within [minimum, 16].
double wheelScale(double scale, int steps, double minimum);
