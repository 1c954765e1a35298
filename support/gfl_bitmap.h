// Image records: decoded 16-bit RGB images, their TIFF load and save, and the
// channel-value conversions of the stored 16-bit patterns.
#pragma once

#include "support/tiff_tags.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class Reporter;

// One decoded image: interleaved 16-bit R, G, B, row-major without padding,
// sample (x, y, c) at (y * width + x) * 3 + c. An empty record is 0 x 0.
struct GflBitmap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint16_t> pixels;

    bool empty() const { return width <= 0 || height <= 0; }
    size_t sampleCount() const { return static_cast<size_t>(width) * height * 3; }
    uint16_t* row(int32_t y) { return pixels.data() + static_cast<size_t>(y) * width * 3; }
    const uint16_t* row(int32_t y) const {
        return pixels.data() + static_cast<size_t>(y) * width * 3;
    }
};

// The rows of a 16-bit RGB image made as they are saved, so that an image
// computed from other data needs no record of its own: fill(first, count, out)
// puts rows [first, first + count) into `out`, laid out as GflBitmap rows. It
// is called from several threads at once, for rows that never overlap.
struct RgbRows {
    int32_t width = 0;
    int32_t height = 0;
    std::function<void(int32_t first, int32_t count, uint16_t* out)> fill;

    bool empty() const { return width <= 0 || height <= 0 || !fill; }
};

// Outcome of a load or save that has not been reported yet, so that files
// decoded on worker threads can be reported in order on the window's thread.
struct BitmapIoResult {
    bool failed = false;
    QString module;  // e.g. "gflLoadBitmap [<library message>]"
    int number = 0;
    QString description;
};

BitmapIoResult loadBitmapQuiet(const QString& path, GflBitmap& record);
void reportBitmapIo(const BitmapIoResult& result, Reporter& reporter);

// true = failed (reported through the reporter). On failure the record keeps
// the image it held; on success it is replaced.
bool CargarGflBitmap(const QString& path, GflBitmap& record, Reporter& reporter);
// Always writes a 16-bit RGB TIFF, LZW with horizontal predictor, whatever the
// extension, with the descriptive `tags` (none by default; see tiff_tags.h and
// output_tags.h). true = failed (reported).
bool GuardarGflBitmap(const GflBitmap& record, const QString& path, Reporter& reporter,
                      const TiffTags& tags = {});
// The same file from rows made as they are written.
bool GuardarGflBitmap(const RgbRows& rows, const QString& path, Reporter& reporter,
                      const TiffTags& tags = {});
// Frees the pixel data; the record becomes 0 x 0.
void LiberarGflBitmap(GflBitmap& record);

// Stored 16-bit pattern -> 0..65535.
inline int32_t LeerCanal16(int16_t stored) {
    return stored >= 0 ? stored : static_cast<int32_t>(stored) + 65536;
}
// Lowers v to at most 65535 and returns its 16-bit pattern. Callers pass v >= 0.
inline int16_t EscribirCanal16(int32_t& v) {
    if (v > 65535) v = 65535;
    return static_cast<int16_t>(v <= 32767 ? v : v - 65536);
}
