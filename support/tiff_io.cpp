// TIFF decoding into 16-bit RGB records and LZW writing, on libtiff. Each file
// gets its own message handlers, so files may be decoded on several threads.
#include "support/tiff_io.h"

#include "support/gfl_bitmap.h"

#include <tiffio.h>

#include <QFile>
#include <QFileInfo>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Messages {
    QString firstError;
};

int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* messages = static_cast<Messages*>(user);
    if (messages->firstError.isEmpty()) {
        char text[1024];
        std::vsnprintf(text, sizeof text, fmt, ap);
        messages->firstError = (module && *module) ? QString::fromLocal8Bit(module) +
                                                         QStringLiteral(": ") +
                                                         QString::fromLocal8Bit(text)
                                                   : QString::fromLocal8Bit(text);
    }
    return 1;  // handled: nothing reaches stderr
}

int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

TiffPtr openTiff(const QString& path, const char* mode, Messages& messages) {
    initTiffLibrary();
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &messages);
    return TiffPtr(TIFFOpenExt(QFile::encodeName(path).constData(), mode, options.get()));
}

[[noreturn]] void fail(const Messages& messages, const QString& fallback) {
    throw TiffError(messages.firstError.isEmpty() ? fallback : messages.firstError);
}

[[noreturn]] void unsupported(const QString& what) {
    throw TiffError(QStringLiteral("Unsupported TIFF format: ") + what);
}

enum class Layout { Rgb, Grey, GreyInverted, Palette };

struct Format {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG;
    Layout layout = Layout::Rgb;
    const uint16_t* palette[3] = {nullptr, nullptr, nullptr};
};

Format readFormat(TIFF* tif, const QString& path) {
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
        throw TiffError(QStringLiteral("Image dimensions %1 x %2 are too large")
                            .arg(f.width)
                            .arg(f.height));

    // Uncompressed data must lie inside the file; checked before the pixel
    // buffer is allocated, so a truncated or forged header costs nothing.
    if (compression == COMPRESSION_NONE) {
        const auto fileSize = static_cast<uint64_t>(QFileInfo(path).size());
        const uint32_t count = TIFFNumberOfStrips(tif);
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t end = TIFFGetStrileOffset(tif, i) + TIFFGetStrileByteCount(tif, i);
            if (end > fileSize)
                throw TiffError(QStringLiteral("File is truncated: data block %1 of %2 lies "
                                               "beyond the end of the file")
                                    .arg(i + 1)
                                    .arg(count));
        }
    }
    return f;
}

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

void convertRun(const void* src, uint32_t count, const Format& f, int plane, uint16_t* dst) {
    if (f.bits == 8) {
        const auto* s = static_cast<const uint8_t*>(src);
        plane < 0 ? convertPixels(s, count, f, dst) : convertPlane(s, count, f, plane, dst);
    } else {
        const auto* s = static_cast<const uint16_t*>(src);
        plane < 0 ? convertPixels(s, count, f, dst) : convertPlane(s, count, f, plane, dst);
    }
}

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
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tif)));
    const uint16_t planes = separate ? (f.layout == Layout::Rgb ? 3 : 1) : 1;
    for (uint16_t p = 0; p < planes; ++p)
        for (uint32_t y = 0; y < f.height; ++y) {
            if (TIFFReadScanline(tif, line.data(), y, p) < 0)
                fail(messages, QStringLiteral("Read error on row %1").arg(y + 1));
            convertRun(line.data(), f.width, f, separate ? p : -1, out.row(static_cast<int32_t>(y)));
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
    std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize(tif)));
    for (uint16_t p = 0; p < planes; ++p)
        for (uint32_t ty = 0; ty < f.height; ty += tileHeight)
            for (uint32_t tx = 0; tx < f.width; tx += tileWidth) {
                if (TIFFReadTile(tif, tile.data(), tx, ty, 0, p) < 0)
                    fail(messages, QStringLiteral("Read error on tile at %1, %2").arg(tx).arg(ty));
                const uint32_t cols = std::min(tileWidth, f.width - tx);
                const uint32_t rows = std::min(tileHeight, f.height - ty);
                for (uint32_t r = 0; r < rows; ++r)
                    convertRun(tile.data() + r * tileWidth * bytesPerPixel, cols, f,
                               separate ? p : -1,
                               out.row(static_cast<int32_t>(ty + r)) + static_cast<size_t>(tx) * 3);
            }
}

}  // namespace

void initTiffLibrary() {
    static std::once_flag silenceGlobal;
    std::call_once(silenceGlobal, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

void readTiffRgb16(const QString& path, GflBitmap& out) {
    Messages messages;
    TiffPtr tif = openTiff(path, "r", messages);
    if (!tif) fail(messages, QStringLiteral("Cannot open ") + path);
    const Format f = readFormat(tif.get(), path);
    GflBitmap image;
    image.width = static_cast<int32_t>(f.width);
    image.height = static_cast<int32_t>(f.height);
    image.pixels.resize(image.sampleCount());
    if (TIFFIsTiled(tif.get()))
        readTiles(tif.get(), f, image, messages);
    else
        readStrips(tif.get(), f, image, messages);
    out = std::move(image);
}

void writeTiffRgb16(const GflBitmap& image, const QString& path) {
    if (image.empty()) throw TiffError(QStringLiteral("Nothing to save: the image is empty"));
    const QString partial = path + QStringLiteral(".part");
    Messages messages;
    {
        TiffPtr tif = openTiff(partial, "w", messages);
        if (!tif) fail(messages, QStringLiteral("Cannot create ") + path);
        TIFF* t = tif.get();
        const size_t rowBytes = static_cast<size_t>(image.width) * 6;
        // Strips of about 256 KB: large enough to keep LZW's per-strip cost low,
        // small enough that readers can stream.
        const uint32_t rowsPerStrip =
            static_cast<uint32_t>(std::max<size_t>(1, (256 * 1024) / rowBytes));
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        TIFFSetField(t, TIFFTAG_SOFTWARE, "Orrindale 1.1");
        // libtiff's predictor works in place, so each strip goes through a copy.
        std::vector<uint16_t> strip(rowsPerStrip * rowBytes / 2);
        bool ok = true;
        for (uint32_t first = 0, s = 0; ok && first < static_cast<uint32_t>(image.height);
             first += rowsPerStrip, ++s) {
            const uint32_t rows = std::min<uint32_t>(rowsPerStrip, image.height - first);
            const size_t bytes = rows * rowBytes;
            std::memcpy(strip.data(), image.row(static_cast<int32_t>(first)), bytes);
            ok = TIFFWriteEncodedStrip(t, s, strip.data(), static_cast<tmsize_t>(bytes)) >= 0;
        }
        ok = ok && TIFFWriteDirectory(t);
        if (!ok) {
            tif.reset();
            QFile::remove(partial);
            fail(messages, QStringLiteral("Write error on ") + path);
        }
        tif.reset();  // flushes; errors on close are captured too
        if (!messages.firstError.isEmpty()) {
            QFile::remove(partial);
            fail(messages, QString());
        }
    }
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) !=
        0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(partial);
        throw TiffError(path + QStringLiteral(": ") + reason);
    }
}

bool tiffFileIsComplete(const QString& path) {
    Messages messages;
    TiffPtr tif = openTiff(path, "r", messages);
    if (!tif || !messages.firstError.isEmpty()) return false;
    const auto fileSize = static_cast<uint64_t>(QFileInfo(path).size());
    const uint32_t count = TIFFNumberOfStrips(tif.get());
    if (count == 0) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tif.get(), i);
        const uint64_t bytes = TIFFGetStrileByteCount(tif.get(), i);
        if (offset == 0 || bytes == 0 || offset + bytes > fileSize) return false;
    }
    return true;
}
