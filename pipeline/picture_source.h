// What the viewer shows: a picture source makes the full-resolution picture
// for the screen, as the preview box shows that kind of file, and reads out
// the file's own samples at a pixel, with a note on how the pixel was made.
// Each kind of file is one source; a new format (float TIFF, OpenEXR, AVIF)
// or a new picture of the set is one more.
#pragma once

#include "support/picture_pyramid.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <array>
#include <vector>

// The file's own samples at one pixel.
struct PictureSamples {
    int channels = 0;  // 0: none to read there; 1: grey; 3: R, G, B
    std::array<double, 3> values{};
    bool floating = false;  // float files show decimals, the others whole numbers
};

class PictureSource {
  public:
    virtual ~PictureSource() = default;
    // The name of the file shown, for the window's title.
    virtual QString fileName() const = 0;
    // The picture for the screen at full resolution, 8-bit RGB. Runs on the
    // caller's thread (its pixel loops on all cores). Throws RunError or
    // TiffError when the file cannot be shown.
    virtual Rgb8Plane screenPicture() = 0;
    // The file's own samples at pixel (x, y), which lies inside the picture;
    // `shown` is what screenPicture made, for files whose own samples are the
    // screen's. Never throws: what cannot be read has no channels.
    virtual PictureSamples samplesAt(int x, int y, const Rgb8Plane& shown) = 0;
    // What else the read-out tells at (x, y): the image the map chose there,
    // say. Empty when nothing.
    virtual QString noteAt(int, int, const Rgb8Plane&) { return {}; }
    // Work the notes need that may wait until the picture is on screen (the
    // output's map, for instance). Never throws.
    virtual void prepareNotes() {}
    // False once the name no longer leads to the file that was read (removed,
    // replaced or written again). The source still shows what it read.
    virtual bool unchanged() const { return true; }
};

// "41021 38710 30211" (one value for grey; four significant digits for float
// samples: "0.6259 0.002312 12.5").
QString samplesText(const PictureSamples& samples);
// The read-out line: "x 2048 y 1030 · 41021 38710 30211 · from IMG_0003.tiff, 62 %".
QString readoutLine(QPoint pixel, const PictureSamples& samples, const QString& note);

// Which image the map chose at each pixel, from the map's grey levels and
// the table that decodes them into fractional image numbers.
class MapChoices {
  public:
    MapChoices() = default;
    // `levels`: the map's grey levels (Format_Grayscale8), or null for
    // ofLevel alone; `names` the file names of images 1..n.
    MapChoices(QImage levels, const std::vector<float>& tablaMapa, QStringList names);
    bool empty() const { return levels_.isNull(); }
    // "from IMG_0003.tiff, 62 %": the image with the larger share of the pixel
    // (100 % where the map took it whole from one image; the less exposed one
    // of an even split). Empty outside the map or for a level naming an image
    // the set lacks.
    QString at(int x, int y) const;
    // The same for one grey level.
    QString ofLevel(int level) const;

  private:
    QImage levels_;
    std::vector<float> tabla_;  // empty when there is no table of 256 levels
    QStringList names_;
};

// A map's grey levels (its red component) as a Format_Grayscale8 picture, one
// byte a pixel: a grey PNG map is used as read. Null when the file is not a
// map of `expected` size or cannot be read.
QImage mapLevels(const QString& path, QSize expected);
