// TIFF reading and writing on libtiff, with libtiff's messages captured as text.
#pragma once

#include "support/linear_rows.h"
#include "support/tiff_tags.h"

#include <QSize>
#include <QString>
#include <stdexcept>

struct GflBitmap;
struct RgbRows;

class TiffError : public std::runtime_error {
public:
    explicit TiffError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// Silences libtiff's process-wide message handlers: every file gets its own.
// Called at start-up; harmless to call again.
void initTiffLibrary();

// Largest image accepted: 2^28 pixels (1.5 GiB decoded). Larger headers are
// refused before anything is allocated.
constexpr long long kMaxTiffPixels = 1LL << 28;

// Decodes 8/16-bit RGB, RGBA, grey, grey+alpha and palette TIFFs, stripped or
// tiled, any compression libtiff knows, into a fresh 16-bit RGB record (8-bit
// values scaled by 257). Throws TiffError with libtiff's or our message, and
// std::bad_alloc when memory runs short, inside libtiff too.
void readTiffRgb16(const QString& path, GflBitmap& out);

// Writes 16-bit RGB, LZW with horizontal predictor, through a temporary file
// renamed over the target, so a failed save never leaves a broken file. Strips
// are encoded on all cores (parallelRows); the file's bytes are the same
// whatever the thread count. Software is always "Orrindale <version>"; `tags`
// adds the profile, camera, date, description and an EXIF directory. Tags
// never change the encoded strips: a tagged file holds the same strip bytes as
// an untagged one, only at other offsets.
void writeTiffRgb16(const GflBitmap& image, const QString& path, const TiffTags& tags = {});
// The same file from rows made as they are encoded (see RgbRows).
void writeTiffRgb16(const RgbRows& rows, const QString& path, const TiffTags& tags = {});
// Writes 32-bit floating-point RGB (SampleFormat IEEEFP), Deflate with the
// floating-point predictor, each value the nearest single to the row source's
// double; otherwise as writeTiffRgb16: temporary file, strips on all cores,
// the same bytes whatever the thread count, the same descriptive tags.
void writeTiffFloat(const LinearRgbRows& rows, const QString& path, const TiffTags& tags = {});
// A record's rows as a row source; the record must outlive it.
RgbRows bitmapRows(const GflBitmap& image);

// Width and height of a TIFF's first image from its header alone, so that a
// picture of the wrong size is refused before it is decoded. Throws TiffError
// when the file cannot be opened as a TIFF.
QSize tiffImageSize(const QString& path);

// The descriptive tags of a TIFF's first image: ICC profile bytes as stored
// (unchecked), Make, Model, DateTime, ImageDescription and the EXIF exposure
// time, aperture, ISO and focal length. Text is read as UTF-8 (plain ASCII in
// practice); EXIF values that are zero, negative or not finite are left out,
// and an EXIF directory that cannot be read leaves all four out. Throws
// TiffError only when the file cannot be opened as a TIFF at all.
TiffTags readTiffTags(const QString& path);

// True when the file is a TIFF whose every strip or tile lies inside the file:
// a writer that is still filling it in does not pass.
bool tiffFileIsComplete(const QString& path);
