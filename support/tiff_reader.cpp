// TIFF decoding into 16-bit RGB records; a file's header is checked before any pixel is
// allocated. Each file has its own message handlers, so several threads may decode at once.
#include "support/tiff_io.h"

#include "support/gfl_bitmap.h"
#include "support/tiff_internal.h"

#include <tiffio.h>

#include <QFileInfo>
#include <algorithm>
#include <vector>

using tiff_internal::fail;
using tiff_internal::Format;
using tiff_internal::Layout;
using tiff_internal::Messages;
using tiff_internal::openTiff;
using tiff_internal::TiffPtr;

namespace {

[[noreturn]] void unsupported(const QString& what) {
    throw TiffError(QStringLiteral("Unsupported TIFF format: ") + what);
}

// Strips or tiles (all planes): TIFFNumberOfStrips counts strips by the rows
// per strip even in a tiled file.
uint32_t dataBlockCount(TIFF* tif) {
    return TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
}

// Whether a block's bytes lie inside the file, compared without adding: a
// forged offset near 2^64 must not wrap past the end.
bool blockInsideFile(uint64_t offset, uint64_t bytes, uint64_t fileSize) {
    return offset <= fileSize && bytes <= fileSize - offset;
}

// The most decoded bytes one stored byte can give, or 0 when the codec has no
// such bound worth checking. PackBits: 2 bytes repeat one up to 128 times.
// LZW: a code of at least 9 bits stands for at most 4096 bytes. Deflate: at
// most 1032 to 1 (with room to spare). JPEG: at least 2 bits per 8 x 8 block.
uint64_t maxDecodedPerStoredByte(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE:
            return 1;
        case COMPRESSION_PACKBITS:
            return 64;
        case COMPRESSION_LZW:
            return 4096;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            return 1100;
        case COMPRESSION_JPEG:
            return 1024;
        default:
            return 0;
    }
}

}  // namespace

namespace tiff_internal {

Format readFormat(TIFF* tif, uint64_t fileSize) {
    Format f;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT, photometric = 0, compression = COMPRESSION_NONE;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f.height))
        throw TiffError(QStringLiteral("Image dimensions missing"));
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &f.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &f.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &f.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = f.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;

    if (sampleFormat == SAMPLEFORMAT_IEEEFP)
        unsupported(QString::number(f.bits) + QStringLiteral("-bit floating point samples"));
    if (sampleFormat == SAMPLEFORMAT_INT) unsupported(QStringLiteral("signed integer samples"));
    if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID)
        unsupported(QStringLiteral("sample format ") + QString::number(sampleFormat));
    if (f.bits == 1) unsupported(QStringLiteral("1-bit (black and white) images"));
    if (f.bits != 8 && f.bits != 16)
        unsupported(QString::number(f.bits) + QStringLiteral("-bit samples"));

    switch (photometric) {
        case PHOTOMETRIC_RGB:
            if (f.samples < 3) unsupported(QStringLiteral("RGB with fewer than 3 samples"));
            f.layout = Layout::Rgb;
            break;
        case PHOTOMETRIC_YCBCR:
            // JPEG-compressed YCbCr is converted to RGB by libtiff on request.
            if (compression != COMPRESSION_JPEG || f.bits != 8)
                unsupported(QStringLiteral("YCbCr colour without JPEG compression"));
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            f.layout = Layout::Rgb;
            break;
        case PHOTOMETRIC_MINISBLACK:
            f.layout = Layout::Grey;
            break;
        case PHOTOMETRIC_MINISWHITE:
            f.layout = Layout::GreyInverted;
            break;
        case PHOTOMETRIC_PALETTE: {
            uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
            if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b))
                unsupported(QStringLiteral("palette image without colour map"));
            f.palette[0] = r;
            f.palette[1] = g;
            f.palette[2] = b;
            f.layout = Layout::Palette;
            break;
        }
        default:
            unsupported(QStringLiteral("photometric interpretation ") +
                        QString::number(photometric));
    }
    if (f.samples < 1) unsupported(QStringLiteral("no samples per pixel"));

    if (f.width == 0 || f.height == 0) throw TiffError(QStringLiteral("Image has no pixels"));
    if (static_cast<long long>(f.width) * f.height > kMaxTiffPixels)
        throw TiffError(
            QStringLiteral("Image dimensions %1 x %2 are too large").arg(f.width).arg(f.height));

    // A codec this libtiff lacks fails on the first block; refused here, before
    // the pixel buffer is allocated.
    if (!TIFFIsCODECConfigured(compression))
        unsupported(QStringLiteral("compression ") + QString::number(compression));

    // Uncompressed data must lie inside the file; checked before the pixel
    // buffer is allocated, so a truncated or forged header costs nothing.
    const uint32_t count = dataBlockCount(tif);
    // Bytes of data blocks inside the file. Blocks may point at the same
    // bytes, but a file holds no more than its own size.
    uint64_t encoded = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tif, i);
        const uint64_t bytes = TIFFGetStrileByteCount(tif, i);
        if (compression == COMPRESSION_NONE && !blockInsideFile(offset, bytes, fileSize))
            throw TiffError(QStringLiteral("File is truncated: data block %1 of %2 lies "
                                           "beyond the end of the file")
                                .arg(i + 1)
                                .arg(count));
        if (offset < fileSize)
            encoded = std::min(fileSize, encoded + std::min(bytes, fileSize - offset));
    }
    // Nor may a small file claim a huge image: each of these codecs turns one
    // stored byte into at most so many decoded bytes, and the image decodes to
    // every sample of every pixel. A tile is decoded whole into a buffer of its
    // own, and is stored in the file too. Other codecs have no such bound and
    // are not checked.
    const uint64_t ratio = maxDecodedPerStoredByte(compression);
    const uint64_t decoded = static_cast<uint64_t>(f.width) * f.height * f.samples * (f.bits / 8);
    if (ratio != 0 && decoded > encoded * ratio)
        throw TiffError(QStringLiteral("File is truncated: its data blocks hold %1 bytes, too "
                                       "few for a %2 x %3 image")
                            .arg(encoded)
                            .arg(f.width)
                            .arg(f.height));
    if (ratio != 0 && TIFFIsTiled(tif) && TIFFTileSize64(tif) > fileSize * ratio)
        throw TiffError(
            QStringLiteral("File is truncated: a tile of %1 bytes cannot be stored in it")
                .arg(TIFFTileSize64(tif)));
    return f;
}

}  // namespace tiff_internal

namespace {

template <typename T>
inline uint16_t scaled(T v) {
    if constexpr (sizeof(T) == 1)
        return static_cast<uint16_t>(v * 257);
    else
        return v;
}

// Converts `count` pixels of interleaved samples into RGB16.
template <typename T>
void convertPixels(const T* src, uint32_t count, const Format& f, uint16_t* dst) {
    const uint16_t step = f.samples;
    switch (f.layout) {
        case Layout::Rgb:
            for (uint32_t i = 0; i < count; ++i, src += step, dst += 3) {
                dst[0] = scaled(src[0]);
                dst[1] = scaled(src[1]);
                dst[2] = scaled(src[2]);
            }
            break;
        case Layout::Grey:
        case Layout::GreyInverted: {
            const bool invert = f.layout == Layout::GreyInverted;
            for (uint32_t i = 0; i < count; ++i, src += step, dst += 3) {
                uint16_t v = scaled(src[0]);
                if (invert) v = static_cast<uint16_t>(65535 - v);
                dst[0] = dst[1] = dst[2] = v;
            }
            break;
        }
        case Layout::Palette:
            for (uint32_t i = 0; i < count; ++i, src += step, dst += 3) {
                const T index = src[0];
                dst[0] = f.palette[0][index];
                dst[1] = f.palette[1][index];
                dst[2] = f.palette[2][index];
            }
            break;
    }
}

// One plane of a planar-separate image: plane p holds colour channel p.
template <typename T>
void convertPlane(const T* src, uint32_t count, const Format& f, uint16_t plane, uint16_t* dst) {
    Format single = f;
    single.samples = 1;
    if (f.layout != Layout::Rgb) {
        convertPixels(src, count, single, dst);
        return;
    }
    for (uint32_t i = 0; i < count; ++i) dst[i * 3 + plane] = scaled(src[i]);
}

}  // namespace

void tiff_internal::convertRun(const void* src, uint32_t count, const Format& f, int plane,
                               uint16_t* dst) {
    if (f.bits == 8) {
        const auto* s = static_cast<const uint8_t*>(src);
        plane < 0 ? convertPixels(s, count, f, dst) : convertPlane(s, count, f, plane, dst);
    } else {
        const auto* s = static_cast<const uint16_t*>(src);
        plane < 0 ? convertPixels(s, count, f, dst) : convertPlane(s, count, f, plane, dst);
    }
}

namespace {

using tiff_internal::convertRun;

void readStrips(TIFF* tif, const Format& f, GflBitmap& out, const Messages& messages) {
    const bool separate = f.planar == PLANARCONFIG_SEPARATE && f.samples > 1;
    // Fast path for what dcraw writes: 16-bit RGB decoded straight into place.
    if (!separate && f.layout == Layout::Rgb && f.bits == 16 && f.samples == 3) {
        uint32_t rowsPerStrip = f.height;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        if (rowsPerStrip == 0 || rowsPerStrip > f.height) rowsPerStrip = f.height;
        const uint32_t strips = TIFFNumberOfStrips(tif);
        const size_t rowBytes = static_cast<size_t>(f.width) * 6;
        for (uint32_t s = 0; s < strips; ++s) {
            const uint32_t first = s * rowsPerStrip;
            if (first >= f.height) break;
            const uint32_t rows = std::min(rowsPerStrip, f.height - first);
            const tmsize_t want = static_cast<tmsize_t>(rows * rowBytes);
            if (TIFFReadEncodedStrip(tif, s, out.row(static_cast<int32_t>(first)), want) < want)
                fail(messages, QStringLiteral("Read error on data block %1").arg(s + 1));
        }
        return;
    }
    // A row must hold what convertRun reads from it.
    const uint64_t rowBytes =
        static_cast<uint64_t>(f.width) * (separate ? 1 : f.samples) * (f.bits / 8);
    const tmsize_t lineSize = TIFFScanlineSize(tif);
    if (lineSize <= 0 || static_cast<uint64_t>(lineSize) < rowBytes)
        fail(messages, QStringLiteral("Bad row size"));
    std::vector<uint8_t> line(static_cast<size_t>(lineSize));
    const uint16_t planes = separate ? (f.layout == Layout::Rgb ? 3 : 1) : 1;
    for (uint16_t p = 0; p < planes; ++p)
        for (uint32_t y = 0; y < f.height; ++y) {
            if (TIFFReadScanline(tif, line.data(), y, p) < 0)
                fail(messages, QStringLiteral("Read error on row %1").arg(y + 1));
            convertRun(line.data(), f.width, f, separate ? p : -1,
                       out.row(static_cast<int32_t>(y)));
        }
}

void readTiles(TIFF* tif, const Format& f, GflBitmap& out, const Messages& messages) {
    uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
    if (tileWidth == 0 || tileHeight == 0) throw TiffError(QStringLiteral("Bad tile size"));
    const bool separate = f.planar == PLANARCONFIG_SEPARATE && f.samples > 1;
    const uint16_t planes = separate ? (f.layout == Layout::Rgb ? 3 : 1) : 1;
    const size_t bytesPerPixel = static_cast<size_t>(separate ? 1 : f.samples) * (f.bits / 8);
    // A tile must hold what convertRun reads from it.
    const tmsize_t tileSize = TIFFTileSize(tif);
    if (tileSize <= 0 || static_cast<uint64_t>(tileSize) <
                             static_cast<uint64_t>(tileWidth) * tileHeight * bytesPerPixel)
        fail(messages, QStringLiteral("Bad tile size"));
    std::vector<uint8_t> tile(static_cast<size_t>(tileSize));
    for (uint16_t p = 0; p < planes; ++p)
        for (uint32_t ty = 0; ty < f.height; ty += tileHeight)
            for (uint32_t tx = 0; tx < f.width; tx += tileWidth) {
                if (TIFFReadTile(tif, tile.data(), tx, ty, 0, p) < 0)
                    fail(messages, QStringLiteral("Read error on tile at %1, %2").arg(tx).arg(ty));
                const uint32_t cols = std::min(tileWidth, f.width - tx);
                const uint32_t rows = std::min(tileHeight, f.height - ty);
                for (uint32_t r = 0; r < rows; ++r) {
                    const size_t at = static_cast<size_t>(r) * tileWidth * bytesPerPixel;
                    convertRun(tile.data() + at, cols, f, separate ? p : -1,
                               out.row(static_cast<int32_t>(ty + r)) + static_cast<size_t>(tx) * 3);
                }
            }
}

}  // namespace

GflBitmap tiff_internal::readImage(TIFF* tif, const Format& f, const Messages& messages) {
    GflBitmap image;
    image.width = static_cast<int32_t>(f.width);
    image.height = static_cast<int32_t>(f.height);
    image.pixels.resize(image.sampleCount());
    if (TIFFIsTiled(tif))
        readTiles(tif, f, image, messages);
    else
        readStrips(tif, f, image, messages);
    return image;
}

void readTiffRgb16(const QString& path, GflBitmap& out) {
    Messages messages;
    TiffPtr tif = openTiff(path, "r", messages);
    if (!tif) fail(messages, QStringLiteral("Cannot open ") + path);
    const Format f =
        tiff_internal::readFormat(tif.get(), static_cast<uint64_t>(QFileInfo(path).size()));
    out = tiff_internal::readImage(tif.get(), f, messages);
}

QSize tiffImageSize(const QString& path) {
    Messages messages;
    TiffPtr tif = openTiff(path, "r", messages);
    if (!tif) fail(messages, QStringLiteral("Cannot open ") + path);
    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
        throw TiffError(QStringLiteral("Image dimensions missing"));
    // Beyond what a QSize holds no set can match it anyway.
    constexpr uint32_t kLargest = 0x7fffffff;
    return QSize(static_cast<int>(std::min(width, kLargest)),
                 static_cast<int>(std::min(height, kLargest)));
}

bool tiffFileIsComplete(const QString& path) {
    Messages messages;
    TiffPtr tif = openTiff(path, "r", messages);
    if (!tif || !messages.firstError.isEmpty()) return false;
    const auto fileSize = static_cast<uint64_t>(QFileInfo(path).size());
    const uint32_t count = dataBlockCount(tif.get());
    if (count == 0) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tif.get(), i);
        const uint64_t bytes = TIFFGetStrileByteCount(tif.get(), i);
        if (offset == 0 || bytes == 0 || !blockInsideFile(offset, bytes, fileSize)) return false;
    }
    return true;
}
