// An EXIF block as files other than TIFF carry one (AVIF's Exif item): a
// little-endian TIFF header with the image directory's descriptive tags and
// an EXIF directory with the shot's exposure.
#pragma once

#include "support/tiff_tags.h"

#include <QByteArray>

// Make, Model, DateTime, ImageDescription and Software (always: "Orrindale"
// and the version) in the first directory; ExifVersion 0230, the exposure
// time, f-number, ISO, focal length and the shot's time as DateTimeOriginal
// in the EXIF one. Empty members of `tags` are left out; the ICC profile is
// not part of it. Text is written as ASCII ("?" for anything else).
QByteArray exifBlock(const TiffTags& tags);
