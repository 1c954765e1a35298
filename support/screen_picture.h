// Files decoded for the screen at full resolution, from a file held open: a
// 16-bit TIFF through a screen table, decoded in bands on all cores without
// ever holding its 16-bit samples; any other picture Qt reads, as it is.
#pragma once

#include "support/picture_pyramid.h"

#include <QImage>
#include <cstdint>
#include <vector>

class OpenedFile;

// Whether the file starts as a TIFF does.
bool isTiffFile(const OpenedFile& file);

// A TIFF's samples through `table` (65536 entries, see screen_tone.h).
// Throws TiffError, or RunError(kErrOutOfMemory).
Rgb8Plane tiffOnScreen(const OpenedFile& file, const std::vector<uint8_t>& table);

// A picture Qt reads (PNG, GIF, ...), decoded from the file's bytes; null
// when Qt cannot read it, with the reason in `error`. Throws
// RunError(kErrOutOfMemory).
QImage readPicture(const OpenedFile& file, QString& error);
// The picture's own 8-bit values as screen rows.
Rgb8Plane pictureOnScreen(const QImage& picture);
