// Files the benchmarks decode: 16-bit RGB TIFFs laid out as dcraw writes them.
#pragma once

#include "support/gfl_bitmap.h"

#include <QString>

// One uncompressed strip of 16-bit RGB pixels. Throws on failure.
void writeUncompressedTiff(const GflBitmap& image, const QString& path);
