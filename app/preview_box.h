// The preview box: shows a picture at its top-left corner over a neutral dark
// grey and reports mouse positions in pixels of its inner area. A result
// (what an operation made) may be shown over the preview with a caption.
// A double-click asks for the viewer; its first click neither places a patch
// nor puts a result away.
#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <QImage>
#include <QTimer>
#include <optional>

class PreviewBox : public QFrame {
    Q_OBJECT
public:
    explicit PreviewBox(QWidget* parent = nullptr);

    // The RAW preview's picture; showing it puts any result away.
    void setPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }
    // Shows a result, already fitted to the box, until dismissed or a new
    // preview picture comes.
    void showResult(const QImage& picture, const QString& caption);
    void dismissResult();
    bool showingResult() const { return !result_.isNull(); }
    const QImage& result() const { return result_; }
    const QString& caption() const { return caption_; }
    // Whether the box shows anything at all.
    bool showingSomething() const { return showingResult() || !picture_.isNull(); }
    // The inner area in pixels (inside the sunken border).
    int innerWidth() const { return contentsRect().width(); }
    int innerHeight() const { return contentsRect().height(); }

signals:
    void mouseDown(float x, float y);
    void mouseMove(float x, float y);
    void mouseUp(float x, float y);
    void doubleClicked();
    // What the box shows has changed.
    void contentChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    QPointF inner(const QMouseEvent* event) const;
    // Hands a click held back over to the handlers.
    void deliverClick();

    QImage picture_;
    QImage result_;
    QString caption_;

    // A click on the RAW preview waits for the double-click interval before
    // it reaches the handlers (where it places a patch): the first click of a
    // double-click does nothing. A drag starts at once.
    struct HeldClick {
        QPointF press;
        std::optional<QPointF> release;
    };
    std::optional<HeldClick> held_;
    QTimer heldTimer_;
    bool swallowRelease_ = false;  // the release that ends a double-click

    // A click on a result puts it away at once, as always; a double-click
    // brings back what its first click put away.
    QImage putAwayResult_;
    QString putAwayCaption_;
    QElapsedTimer putAwayClock_;
};
