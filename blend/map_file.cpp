// Reading a blending map file: its size from the header, then its red
// components. Maps as large as any set (2^28 pixels) load; anything else that
// is not a picture is refused.
#include "blend/blend.h"

#include "support/errors.h"
#include "support/image_memory.h"
#include "support/parallel.h"
#include "support/tiff_io.h"

#include <QFile>
#include <QImageReader>
#include <cmath>

namespace {

bool looksLikeTiff(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = f.read(4);
    return head == QByteArray("II*\0", 4) || head == QByteArray("MM\0*", 4);
}

void checkExists(const QString& path) {
    if (path.isEmpty() || !QFile::exists(path))
        throw RunError(kErrFileNotFound, QStringLiteral("File not found: ") + path);
}

}  // namespace

MapLevels loadMapLevels(const QString& path, QSize expected, bool keepColours) {
    checkExists(path);
    MapLevels map;
    if (looksLikeTiff(path)) {
        // 16-bit pictures become 8-bit as the picture object shows them.
        GflBitmap deep;
        try {
            // As for PNG: a map of another size costs no decoding.
            const QSize size = tiffImageSize(path);
            if (size != expected) {
                map.width = size.width();
                map.height = size.height();
                return map;
            }
            readTiffRgb16(path, deep);
        } catch (const TiffError& e) {
            throw RunError(kErrInvalidPicture, e.message());
        }
        map.width = deep.width;
        map.height = deep.height;
        if (QSize(map.width, map.height) != expected) return map;
        map.red.resize(static_cast<size_t>(deep.width) * deep.height);
        QImage colours;
        if (keepColours) colours = allocatedImage(deep.width, deep.height, QImage::Format_RGB32);
        auto to8 = [](uint16_t v) { return static_cast<int>(std::lround(255.0 * (v / 65535.0))); };
        for (int y = 0; y < deep.height; ++y) {
            const uint16_t* in = deep.row(y);
            for (int x = 0; x < deep.width; ++x) {
                map.red[static_cast<size_t>(y) * deep.width + x] = static_cast<uint8_t>(to8(in[x * 3]));
                if (keepColours)
                    reinterpret_cast<QRgb*>(colours.scanLine(y))[x] =
                        qRgb(to8(in[x * 3]), to8(in[x * 3 + 1]), to8(in[x * 3 + 2]));
            }
        }
        map.colours = std::move(colours);
        return map;
    }
    QImageReader reader(path);
    // The header first: a map of another size is refused before its pixels
    // take any memory.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        throw RunError(kErrInvalidPicture, reader.errorString() + QStringLiteral(": ") + path);
    if (size != expected) {
        map.width = size.width();
        map.height = size.height();
        return map;
    }
    AllocationLimit limit(expected);
    QImage picture = reader.read();
    if (picture.isNull()) throwReadFailure(reader, size, path);
    if (picture.format() != QImage::Format_Grayscale8)
        picture = convertedImage(picture, QImage::Format_RGB32);
    map.width = picture.width();
    map.height = picture.height();
    if (QSize(map.width, map.height) != expected) return map;
    map.red.resize(static_cast<size_t>(map.width) * map.height);
    const bool grey = picture.format() == QImage::Format_Grayscale8;
    parallelRows(map.height, 64, [&](const RowBand& band) {
        for (int y = band.begin; y < band.end; ++y) {
            uint8_t* out = map.red.data() + static_cast<size_t>(y) * map.width;
            if (grey) {
                std::copy_n(picture.constScanLine(y), map.width, out);
            } else {
                const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
                for (int x = 0; x < map.width; ++x) out[x] = static_cast<uint8_t>(qRed(line[x]));
            }
        }
    });
    if (keepColours) map.colours = std::move(picture);
    return map;
}
