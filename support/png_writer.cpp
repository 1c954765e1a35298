// PNG encoding on all cores: rows filtered with "Up" (flat maps become runs of
// zeros), cut into bands deflated independently and joined into one zlib
// stream, as parallel gzip tools do. Written through QSaveFile, so a failed
// save replaces nothing.
#include "support/png_writer.h"

#include "support/errors.h"
#include "support/image_memory.h"
#include "support/parallel.h"

#include <QSaveFile>
#include <algorithm>
#include <cstring>
#include <vector>
#include <zlib.h>

namespace {

// Rows per independently deflated band: a fresh dictionary every few hundred
// thousand bytes costs a fraction of a percent in size.
constexpr int kBandBytes = 1 << 19;
constexpr size_t kIdatBytes = 1 << 20;

void putBigEndian(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// Writes one chunk straight from `data`; false when a write failed.
bool writeChunk(QSaveFile& out, const char type[4], const uint8_t* data, size_t size) {
    std::vector<uint8_t> head;
    putBigEndian(head, static_cast<uint32_t>(size));
    head.insert(head.end(), type, type + 4);
    uLong crc = crc32(0, head.data() + 4, 4);
    if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
    std::vector<uint8_t> tail;
    putBigEndian(tail, static_cast<uint32_t>(crc));
    auto put = [&out](const uint8_t* bytes, size_t n) {
        return out.write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(n)) ==
               static_cast<qint64>(n);
    };
    return put(head.data(), head.size()) && (size == 0 || put(data, size)) &&
           put(tail.data(), tail.size());
}

struct Band {
    std::vector<uint8_t> deflated;
    uLong adler = 1;
    size_t rawBytes = 0;
};

// The filtered bytes of rows [begin, end): each row's filter byte (2, Up) and
// its samples minus those of the row above.
std::vector<uint8_t> filteredRows(const QImage& picture, int channels, int begin, int end) {
    const size_t rowBytes = static_cast<size_t>(picture.width()) * channels;
    std::vector<uint8_t> raw((rowBytes + 1) * static_cast<size_t>(end - begin));
    std::vector<uint8_t> above(rowBytes, 0), line(rowBytes);
    auto samples = [&](int y, uint8_t* out) {
        if (channels == 1 || picture.format() == QImage::Format_RGB888) {
            std::memcpy(out, picture.constScanLine(y), rowBytes);
            return;
        }
        const auto* in = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            out[x * 3] = static_cast<uint8_t>(qRed(in[x]));
            out[x * 3 + 1] = static_cast<uint8_t>(qGreen(in[x]));
            out[x * 3 + 2] = static_cast<uint8_t>(qBlue(in[x]));
        }
    };
    if (begin > 0) samples(begin - 1, above.data());
    uint8_t* out = raw.data();
    for (int y = begin; y < end; ++y) {
        samples(y, line.data());
        *out++ = 2;
        for (size_t i = 0; i < rowBytes; ++i) out[i] = static_cast<uint8_t>(line[i] - above[i]);
        out += rowBytes;
        std::swap(above, line);
    }
    return raw;
}

void deflateBand(const std::vector<uint8_t>& raw, int level, bool last, Band& band) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));
    band.deflated.resize(deflateBound(&z, static_cast<uLong>(raw.size())) + 16);
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = band.deflated.data();
    z.avail_out = static_cast<uInt>(band.deflated.size());
    // A band that others follow ends on a byte boundary, its last block open.
    const int result = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    band.deflated.resize(band.deflated.size() - z.avail_out);
    deflateEnd(&z);
    if (result != (last ? Z_STREAM_END : Z_OK) || z.avail_in != 0)
        throw RunError(kErrGeneric, QStringLiteral("PNG compression failed"));
    band.adler = adler32(1, raw.data(), static_cast<uInt>(raw.size()));
    band.rawBytes = raw.size();
}

// zlib levels from Qt's quality scale: 100 stores, 0 packs hardest.
int zlibLevel(int quality) {
    if (quality < 0) return 6;
    return (100 - std::min(quality, 100)) * 9 / 91;
}

}  // namespace

namespace {

// `picture` is Grayscale8, RGB888 or RGB32, or Indexed8 with its palette
// written too.
void encodePng(const QImage& picture, const QString& path, int quality) {
    const bool grey = picture.format() == QImage::Format_Grayscale8;
    const bool indexed = picture.format() == QImage::Format_Indexed8;
    const int width = picture.width(), height = picture.height();
    if (width <= 0 || height <= 0) throw RunError(kErrInvalidArgument, QStringLiteral("Invalid picture size"));
    const int channels = grey || indexed ? 1 : 3;
    const int level = zlibLevel(quality);

    const size_t rowBytes = static_cast<size_t>(width) * channels + 1;
    const int bandRows = static_cast<int>(std::max<size_t>(1, kBandBytes / rowBytes));
    const int bands = rowBandCount(height, bandRows);
    std::vector<Band> coded(static_cast<size_t>(bands));
    parallelRows(height, bandRows, [&](const RowBand& b) {
        const std::vector<uint8_t> raw = filteredRows(picture, channels, b.begin, b.end);
        deflateBand(raw, level, b.index == bands - 1, coded[static_cast<size_t>(b.index)]);
    });

    // zlib header (deflate, 32 KiB window, no dictionary), the bands, Adler-32.
    std::vector<uint8_t> stream = {0x78, 0x01};
    uLong adler = 1;
    for (const Band& b : coded) {
        stream.insert(stream.end(), b.deflated.begin(), b.deflated.end());
        adler = adler32_combine(adler, b.adler, static_cast<z_off_t>(b.rawBytes));
    }
    putBigEndian(stream, static_cast<uint32_t>(adler));

    const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    putBigEndian(header, static_cast<uint32_t>(width));
    putBigEndian(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, static_cast<uint8_t>(grey ? 0 : indexed ? 3 : 2), 0, 0, 0});
    std::vector<uint8_t> palette;
    for (const QRgb c : picture.colorTable())
        palette.insert(palette.end(), {static_cast<uint8_t>(qRed(c)), static_cast<uint8_t>(qGreen(c)),
                                       static_cast<uint8_t>(qBlue(c))});

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        throw RunError(kErrFileAccess, out.errorString() + QStringLiteral(": ") + path);
    bool written = out.write(reinterpret_cast<const char*>(signature), sizeof signature) ==
                       static_cast<qint64>(sizeof signature) &&
                   writeChunk(out, "IHDR", header.data(), header.size()) &&
                   (!indexed || writeChunk(out, "PLTE", palette.data(), palette.size()));
    for (size_t at = 0; written && at < stream.size(); at += kIdatBytes)
        written = writeChunk(out, "IDAT", stream.data() + at, std::min(kIdatBytes, stream.size() - at));
    written = written && writeChunk(out, "IEND", nullptr, 0);
    // Buffered bytes go out at commit, where a full disk would go unseen;
    // flushed first, their failure cancels the save.
    if (!written || !out.flush() || !out.commit())
        throw RunError(kErrFileAccess, out.errorString() + QStringLiteral(": ") + path);
}

}  // namespace

void writePng(const QImage& source, const QString& path, int quality) {
    const bool grey = source.format() == QImage::Format_Grayscale8;
    if (!grey && source.format() != QImage::Format_RGB888 && source.format() != QImage::Format_RGB32)
        encodePng(convertedImage(source, QImage::Format_RGB32), path, quality);
    else
        encodePng(source, path, quality);
}

void writePalettePng(const QImage& picture, const QString& path, int quality) {
    if (picture.format() != QImage::Format_Indexed8 || picture.colorCount() < 1 ||
        picture.colorCount() > 256)
        throw RunError(kErrInvalidArgument, QStringLiteral("Not a picture of 256 colours or fewer"));
    encodePng(picture, path, quality);
}
