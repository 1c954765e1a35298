// The preview box: shows a picture at its top-left corner over a neutral dark
// grey and reports mouse positions in pixels of its inner area. A result
// (what an operation made) may be shown over the preview with a caption.
#pragma once

#include <QFrame>
#include <QImage>

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
    // The inner area in pixels (inside the sunken border).
    int innerWidth() const { return contentsRect().width(); }
    int innerHeight() const { return contentsRect().height(); }

signals:
    void mouseDown(float x, float y);
    void mouseMove(float x, float y);
    void mouseUp(float x, float y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPointF inner(const QMouseEvent* event) const;
    QImage picture_;
    QImage result_;
    QString caption_;
};
