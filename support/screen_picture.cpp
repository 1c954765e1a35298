// Screen pictures of TIFF and Qt-readable files.
#include "support/screen_picture.h"

#include "support/errors.h"
#include "support/image_memory.h"
#include "support/opened_file.h"
#include "support/parallel.h"
#include "support/tiff_rows.h"

#include <QBuffer>
#include <QImageReader>
#include <algorithm>

bool isTiffFile(const OpenedFile& file) {
    char head[4] = {};
    if (file.readAt(head, 4, 0) != 4) return false;
    const QByteArray h(head, 4);
    return h == QByteArray("II*\0", 4) || h == QByteArray("MM\0*", 4);
}

Rgb8Plane tiffOnScreen(const OpenedFile& file, const std::vector<uint8_t>& table) {
    const TiffRowReader header(file);
    const int width = header.width(), height = header.height();
    Rgb8Plane out(width, height);
    // A few bands a thread, each of whole strips and read by one reader of
    // its own (opening one reads the file's strip list), a strip at a time.
    const int block = header.blockRows();
    parallelRows(height, blockBandRows(height, block), [&](const RowBand& band) {
        TiffRowReader reader(file);
        std::vector<uint16_t> rows(static_cast<size_t>(block) * width * 3);
        for (int y = band.begin; y < band.end; y += block) {
            const int count = std::min(block, band.end - y);
            reader.readRows(y, count, rows.data());
            uint8_t* to = out.row(y);
            const size_t samples = static_cast<size_t>(count) * width * 3;
            for (size_t i = 0; i < samples; ++i) to[i] = table[rows[i]];
        }
    });
    return out;
}

QImage readPicture(const OpenedFile& file, QString& error) {
    QByteArray bytes = file.readAll();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    AllocationLimit limit(size);
    QImage picture = reader.read();
    if (picture.isNull()) {
        error = reader.errorString();
        if (size.isValid() && !size.isEmpty() && QImage(size, QImage::Format_RGB32).isNull())
            throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));
    }
    return picture;
}

Rgb8Plane pictureOnScreen(const QImage& picture) {
    const bool grey = picture.format() == QImage::Format_Grayscale8;
    const QImage source = grey ? picture : convertedImage(picture, QImage::Format_RGB32);
    Rgb8Plane out(source.width(), source.height());
    parallelRows(source.height(), 64, [&](const RowBand& band) {
        for (int y = band.begin; y < band.end; ++y) {
            uint8_t* to = out.row(y);
            if (grey) {
                const uchar* p = source.constScanLine(y);
                for (int x = 0; x < source.width(); ++x)
                    to[x * 3] = to[x * 3 + 1] = to[x * 3 + 2] = p[x];
                continue;
            }
            const auto* p = reinterpret_cast<const QRgb*>(source.constScanLine(y));
            for (int x = 0; x < source.width(); ++x) {
                to[x * 3] = static_cast<uint8_t>(qRed(p[x]));
                to[x * 3 + 1] = static_cast<uint8_t>(qGreen(p[x]));
                to[x * 3 + 2] = static_cast<uint8_t>(qBlue(p[x]));
            }
        }
    });
    return out;
}
