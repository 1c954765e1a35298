// Test helpers for output files, independent of the program's own readers:
// ICC profiles opened and made with LittleCMS directly, tags read with plain
// libtiff.
#pragma once

#include <lcms2.h>

#include "support/gfl_bitmap.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <memory>
#include <optional>

struct LcmsProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
using LcmsProfile = std::unique_ptr<void, LcmsProfileCloser>;

// Null when LittleCMS cannot open the bytes.
LcmsProfile openProfile(const QByteArray& icc);
QByteArray saveProfile(cmsHPROFILE profile);

std::optional<cmsCIEXYZ> xyzTag(cmsHPROFILE profile, cmsTagSignature tag);
// The chromatic adaptation matrix, row-major; empty without one.
std::optional<std::array<double, 9>> chadTag(cmsHPROFILE profile);
// The tone curve `tag` at x (0..1), or NaN when the tag is missing.
double curveAt(cmsHPROFILE profile, cmsTagSignature tag, double x);
cmsCIEXYZ times(const std::array<double, 9>& m, const cmsCIEXYZ& v);

// A version 2.1 display profile laid out as dcraw writes them: the given
// colorants, the media white itself in wtpt, no adaptation tag, linear curves.
QByteArray version2Profile(const cmsCIEXYZ& red, const cmsCIEXYZ& green, const cmsCIEXYZ& blue,
                           const cmsCIEXYZ& white, cmsColorSpaceSignature space = cmsSigRgbData);
// dcraw's sRGB colorants and its D65 white, as read from its files.
QByteArray dcrawStyleSrgb();
QByteArray builtInSrgb();  // LittleCMS's own sRGB: version 4, with an adaptation tag
QByteArray greyProfile();
QByteArray labProfile();
// The profile with the data of `tag` overwritten so that it cannot be read.
QByteArray withDamagedTag(QByteArray icc, cmsTagSignature tag);

// ICC profile bytes of a TIFF, read with plain libtiff; empty for none.
QByteArray iccOfTiff(const QString& path);

// The text tags and the four EXIF values of a TIFF, read with plain libtiff.
// Missing text is empty, missing numbers are -1.
struct PlainTags {
    QString make, model, dateTime, software, description;
    double exposure = -1, aperture = -1, focal = -1;
    int iso = -1;
    bool hasExif = false;
    QByteArray exifVersion;
};
PlainTags plainTags(const QString& path);

// Mean of each channel over a rectangle given in fractions of the frame.
std::array<double, 3> patchMean(const GflBitmap& image, double u0, double v0, double u1, double v1);

// Inside step 3 of the generated scene's grey wedge (scene value 0.5) and
// inside its chart's "light skin" patch, clear of their anti-aliased edges,
// as fractions of the frame: u0, v0, u1, v1.
constexpr double kGreyPatch[4] = {0.521, 0.81, 0.552, 0.87};
constexpr double kSkinPatch[4] = {0.453, 0.525, 0.498, 0.585};

// Converts `in` to sRGB (16 bits) with LittleCMS's tificc, which applies the
// profile embedded in the file; "" for tificc when it is not installed.
QString tificcPath();
GflBitmap toSrgbWithTificc(const QString& tificc, const QString& in, const QString& out);
