// The viewer's picture area: a picture and its reduced levels drawn zoomed
// and panned, one picture pixel on one device pixel at 100 % (on
// high-density screens too). The wheel zooms about the pointer, a drag pans.
#pragma once

#include "support/picture_pyramid.h"
#include "support/view_placement.h"

#include <QImage>
#include <QPointF>
#include <QWidget>
#include <memory>
#include <optional>

class ViewerCanvas : public QWidget {
    Q_OBJECT
  public:
    explicit ViewerCanvas(QWidget* parent = nullptr);

    // Shows `picture`: fitted the first time and while fitting, else at the
    // same scale with the same picture point in the middle of the view.
    void setPicture(std::shared_ptr<const PicturePyramid> picture);
    void clearPicture();
    // The picture shown has got its reduced levels: drawn again from them.
    void levelsAdded();
    const PicturePyramid* picture() const { return picture_.get(); }

    // Key 0: the whole picture.
    void fit();
    // Keys 2, 4, 5 (and the wheel): `scale` about the pointer when it is over
    // the picture, else about the middle of the view.
    void zoomTo(double scale);
    // Key 1: 100 %, with the pixel under the pointer brought to the middle
    // when the pointer is over the picture, else the middle kept.
    void actualPixels();

    bool fitting() const { return fitting_; }
    const ViewPlacement& placement() const { return placement_; }
    // Size of the view in device pixels.
    QSize deviceSize() const;
    // The picture pixel at a point of the widget, if the picture has one there.
    std::optional<QPoint> pixelAt(QPointF position) const;
    // The pixel under the pointer, if it is over the picture.
    std::optional<QPoint> pixelUnderPointer() const;

  signals:
    // The pixel under the pointer may have changed (it moved, or the view did).
    void pointerChanged();
    void placementChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    QPointF toDevice(QPointF position) const { return position * devicePixelRatioF(); }
    // Applies a new placement (kept over the picture) and repaints.
    void place(const ViewPlacement& placement, bool fitting);
    // The point zooms keep still: the pointer over the picture, or the middle.
    QPointF zoomAnchor() const;

    std::shared_ptr<const PicturePyramid> picture_;
    QSize shownSize_;  // of the last picture, kept while none is shown
    ViewPlacement placement_;
    bool fitting_ = true;
    QImage view_;  // the last rendering, in device pixels
    bool viewStale_ = true;
    std::optional<QPointF> pointer_;  // last position inside the widget
    std::optional<QPointF> dragFrom_;
    int wheelAngle_ = 0;  // eighths of a degree not yet turned into a step
};
