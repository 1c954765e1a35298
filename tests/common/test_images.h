// Test helpers: synthetic images and TIFF files in many layouts.
#pragma once

#include "support/gfl_bitmap.h"
#include "tests/common/qt_printers.h"

#include <QString>
#include <cstdint>
#include <functional>

// Deterministic pseudo-random 16-bit RGB image.
GflBitmap randomBitmap(int width, int height, uint32_t seed);

// An image whose value at (x, y, c) is f(x, y, c), clamped to 0..65535.
GflBitmap makeBitmap(int width, int height, const std::function<double(int, int, int)>& f);

struct TiffLayout {
    int bits = 16;          // 1, 8, 16 or 32
    int samples = 3;        // 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA
    int compression = 1;    // libtiff COMPRESSION_* value
    bool tiled = false;     // 16 x 16 tiles
    bool separate = false;  // planar configuration 2
    bool floating = false;  // IEEE float samples
    bool minIsWhite = false;
    int rowsPerStrip = 7;   // several strips even for tiny images
    bool palette = false;   // 8 or 16-bit indexes into a colour map (samples 1)
};

// The colour map writeTestTiff gives palette layouts: entry i of a map with
// `entries` entries, as 16-bit R, G, B.
void testPaletteEntry(int i, int entries, uint16_t rgb[3]);

// Writes `image` with the given layout through libtiff directly (not through
// the program's writer). Grey layouts take the red channel; 8-bit layouts take
// the high byte; extra alpha samples are 0x1234-ish noise.
void writeTestTiff(const QString& path, const GflBitmap& image, const TiffLayout& layout);

// A 16-bit RGB TIFF laid out as dcraw writes it: header and directory first,
// then all pixels in one strip. Cutting the bytes short models a file that is
// still being written.
QByteArray headerFirstTiff(const GflBitmap& image);

// Writes raw bytes to a file.
void writeBytes(const QString& path, const QByteArray& bytes);
QByteArray readBytes(const QString& path);
