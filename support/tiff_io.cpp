// TIFF decoding into 16-bit RGB records and LZW writing, on libtiff. Each file
// gets its own message handlers, so files may be decoded on several threads;
// a write encodes its strips on several threads.
#include "support/tiff_io.h"

#include "orrindale_version.h"
#include "support/gfl_bitmap.h"
#include "support/parallel.h"

#include <tiffio.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace {

struct Messages {
    QString firstError;
    // libtiff tells a failed allocation as an error message; malloc has just
    // set errno then. Such a failure is reported as out of memory.
    bool memoryShort = false;
};

int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* messages = static_cast<Messages*>(user);
    if (errno == ENOMEM) messages->memoryShort = true;
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

using OptionsPtr = std::unique_ptr<TIFFOpenOptions, OptionsFree>;

OptionsPtr messageOptions(Messages& messages) {
    initTiffLibrary();
    OptionsPtr options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &messages);
    return options;
}

TiffPtr openTiff(const QString& path, const char* mode, Messages& messages) {
    const OptionsPtr options = messageOptions(messages);
    errno = 0;  // an older ENOMEM must not make a bad file look like a full memory
    TiffPtr tif(TIFFOpenExt(QFile::encodeName(path).constData(), mode, options.get()));
    // A file that could not be mapped is read instead; that failure is no error.
    if (!messages.memoryShort) errno = 0;
    return tif;
}

[[noreturn]] void fail(const Messages& messages, const QString& fallback) {
    if (messages.memoryShort) throw std::bad_alloc();
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

    // A codec this libtiff lacks fails on the first block; refused here, before
    // the pixel buffer is allocated.
    if (!TIFFIsCODECConfigured(compression))
        unsupported(QStringLiteral("compression ") + QString::number(compression));

    // Uncompressed data must lie inside the file; checked before the pixel
    // buffer is allocated, so a truncated or forged header costs nothing.
    const auto fileSize = static_cast<uint64_t>(QFileInfo(path).size());
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

// ---- LZW writing on all cores ----
// LZW and the horizontal predictor restart at every strip, so strips can be
// encoded independently. Each band of strips is encoded by its own in-memory
// libtiff file; the encoded bytes then go into the real file in strip order
// with TIFFWriteRawStrip. libtiff 4.5 has no public call that runs a codec on
// a plain buffer, so a memory-backed TIFF is the way to reach its LZW encoder.

// Strips of about 256 KB: large enough to keep LZW's per-strip cost low, small
// enough that readers can stream.
constexpr size_t kStripBytes = 256 * 1024;
// Bands of about 1 MB of pixels: a few strips each, so the cores stay evenly
// loaded to the last band while opening an in-memory TIFF per band stays a
// negligible cost. Fixed by the image width alone, never by the thread count.
constexpr size_t kBandBytes = 1024 * 1024;

// The fields a strip is encoded under. The band encoders and the file share
// them (and both use the host byte order), so the bytes a band encoder makes
// are the bytes libtiff would have written into the file itself.
void setLzwRgb16Fields(TIFF* t, uint32_t width, uint32_t height, uint32_t rowsPerStrip) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    // The predictor tag only exists once LZW is chosen, so the order matters.
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
}

// A growable file in memory behind libtiff's client callbacks. Seeking past
// the end is allowed; a later write fills the gap with zeros, as a file would.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
};

tmsize_t memoryRead(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0 || file->position >= file->bytes.size()) return 0;
    const uint64_t count =
        std::min<uint64_t>(static_cast<uint64_t>(size), file->bytes.size() - file->position);
    std::memcpy(buffer, file->bytes.data() + file->position, count);
    file->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t memoryWrite(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size < 0) return -1;
    const uint64_t end = file->position + static_cast<uint64_t>(size);
    try {
        if (end > file->bytes.size()) file->bytes.resize(end);
    } catch (const std::exception&) {
        return -1;  // libtiff reports a write error; no exception may cross its C frames
    }
    if (size > 0) std::memcpy(file->bytes.data() + file->position, buffer, size);
    file->position = end;
    return size;
}

toff_t memorySeek(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    const uint64_t base = whence == SEEK_CUR   ? file->position
                          : whence == SEEK_END ? file->bytes.size()
                                               : 0;
    // toff_t is unsigned: a negative relative offset arrives wrapped, and the
    // unsigned sum wraps back to the intended position.
    file->position = base + offset;
    return file->position;
}

int memoryClose(thandle_t) {
    return 0;
}
toff_t memorySize(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->bytes.size();
}
// No mapping: libtiff falls back to the read callback.
int memoryMap(thandle_t, void**, toff_t*) {
    return 0;
}
void memoryUnmap(thandle_t, void*, toff_t) {}

// The LZW bytes of one band's strips, ready for TIFFWriteRawStrip in order.
struct EncodedBand {
    struct Span {
        uint64_t offset, size;
    };
    std::vector<uint8_t> bytes;  // the band's whole in-memory TIFF
    std::vector<Span> strips;    // where each strip's data lies in it
};

// Encodes the rows of one band as the strips the file will hold. The band
// starts on a strip boundary, so its strips are the file's strips.
EncodedBand encodeBand(const RgbRows& image, const RowBand& band, uint32_t rowsPerStrip) {
    const size_t rowBytes = static_cast<size_t>(image.width) * 6;
    const auto rows = static_cast<uint32_t>(band.end - band.begin);
    const uint32_t stripCount = (rows + rowsPerStrip - 1) / rowsPerStrip;
    MemoryFile memory;
    // Photographs compress below their raw size; noise may grow a little past it.
    memory.bytes.reserve(rows * rowBytes + 4096);
    Messages messages;
    EncodedBand encoded;
    {
        const OptionsPtr options = messageOptions(messages);
        TiffPtr tif(TIFFClientOpenExt("LZW band", "w", &memory, memoryRead, memoryWrite, memorySeek,
                                      memoryClose, memorySize, memoryMap, memoryUnmap,
                                      options.get()));
        if (!tif) fail(messages, QStringLiteral("Cannot start the LZW encoder"));
        TIFF* t = tif.get();
        setLzwRgb16Fields(t, static_cast<uint32_t>(image.width), rows, rowsPerStrip);
        // Each strip's rows are made into a buffer of the encoder's, which
        // libtiff may change as it encodes.
        std::vector<uint16_t> strip(std::min(rowsPerStrip, rows) * rowBytes / 2);
        for (uint32_t s = 0; s < stripCount; ++s) {
            const uint32_t first = s * rowsPerStrip;
            const uint32_t count = std::min(rowsPerStrip, rows - first);
            const size_t bytes = count * rowBytes;
            image.fill(band.begin + static_cast<int32_t>(first), static_cast<int32_t>(count),
                       strip.data());
            if (TIFFWriteEncodedStrip(t, s, strip.data(), static_cast<tmsize_t>(bytes)) < 0)
                fail(messages, QStringLiteral("LZW encoding failed"));
        }
        // libtiff flushes every strip as it finishes it, so all of them are in
        // memory now; the directory it adds on closing is not used.
        encoded.strips.reserve(stripCount);
        for (uint32_t s = 0; s < stripCount; ++s) {
            const EncodedBand::Span span{TIFFGetStrileOffset(t, s), TIFFGetStrileByteCount(t, s)};
            if (span.offset == 0 || span.size == 0 || span.offset + span.size > memory.bytes.size())
                fail(messages, QStringLiteral("LZW encoder lost strip %1").arg(s + 1));
            encoded.strips.push_back(span);
        }
    }
    encoded.bytes = std::move(memory.bytes);
    return encoded;
}

// Puts encoded bands into the file in band order, whichever thread finishes
// first. libtiff appends each raw strip at the end of the file, so this order
// is the file's layout: it must never depend on which thread was faster.
class BandSequencer {
public:
    // At most `lookahead` bands may be encoded ahead of the file, which bounds
    // the encoded data held in memory (lookahead x about kBandBytes).
    BandSequencer(TIFF* file, Messages& messages, int lookahead)
        : file_(file), messages_(messages), lookahead_(lookahead) {}

    // Blocks until `band` is close enough to the file to be encoded. False
    // once writing has stopped after a failure.
    bool waitForRoom(int band) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return stopped_ || band < written_ + lookahead_; });
        return !stopped_;
    }

    // Writes the band if it is next, then every band already waiting behind it.
    // Throws TiffError with libtiff's message when the file refuses a strip.
    void deliver(int band, EncodedBand encoded) {
        {
            std::lock_guard lock(mutex_);
            if (stopped_) return;
            waiting_.emplace(band, std::move(encoded));
            for (auto next = waiting_.find(written_); next != waiting_.end();
                 next = waiting_.find(written_)) {
                writeStrips(next->second);
                waiting_.erase(next);
                ++written_;
            }
        }
        room_.notify_all();
    }

    // Wakes every waiting encoder after a failure; nothing more is written.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
            waiting_.clear();
        }
        room_.notify_all();
    }

    int written() const {
        std::lock_guard lock(mutex_);
        return written_;
    }

private:
    void writeStrips(EncodedBand& band) {
        for (const EncodedBand::Span& span : band.strips) {
            const auto size = static_cast<tmsize_t>(span.size);
            if (TIFFWriteRawStrip(file_, nextStrip_, band.bytes.data() + span.offset, size) != size)
                fail(messages_, QStringLiteral("Write error on data block %1").arg(nextStrip_ + 1));
            ++nextStrip_;
        }
    }

    TIFF* const file_;
    Messages& messages_;  // the file's, only touched under the lock
    const int lookahead_;
    mutable std::mutex mutex_;
    std::condition_variable room_;
    std::map<int, EncodedBand> waiting_;
    int written_ = 0;  // bands in the file
    uint32_t nextStrip_ = 0;
    bool stopped_ = false;
};

// ---- Descriptive tags ----

constexpr char kSoftware[] = "Orrindale " ORRINDALE_VERSION;

// Writes the EXIF directory and returns its offset. It goes into the file
// before the image's directory is set up, because libtiff discards the current
// directory's fields when it starts a custom one.
uint64_t writeExifDirectory(TIFF* t, const ExifShot& exif, const Messages& messages) {
    if (TIFFCreateEXIFDirectory(t) != 0)  // 0 is success here
        fail(messages, QStringLiteral("Cannot start the EXIF directory"));
    // An EXIF directory must state its version; 2.3 defines every field here.
    TIFFSetField(t, EXIFTAG_EXIFVERSION, "0230");
    if (exif.exposureTime) TIFFSetField(t, EXIFTAG_EXPOSURETIME, *exif.exposureTime);
    if (exif.fNumber) TIFFSetField(t, EXIFTAG_FNUMBER, *exif.fNumber);
    if (exif.iso) {
        // The field is 16 bits; EXIF reads 65535 as "this or more".
        const auto iso = static_cast<uint16_t>(std::clamp(*exif.iso, 0, 65535));
        TIFFSetField(t, EXIFTAG_ISOSPEEDRATINGS, uint16_t{1}, &iso);
    }
    if (exif.focalLength) TIFFSetField(t, EXIFTAG_FOCALLENGTH, *exif.focalLength);
    uint64_t offset = 0;
    if (!TIFFWriteCustomDirectory(t, &offset) || offset == 0)
        fail(messages, QStringLiteral("Cannot write the EXIF directory"));
    // TIFFCreateDirectory clears the fields without freeing the EXIF values.
    TIFFFreeDirectory(t);
    if (TIFFCreateDirectory(t) != 0) fail(messages, QStringLiteral("Cannot start the image"));
    return offset;
}

void setText(TIFF* t, uint32_t tag, const QString& text) {
    if (!text.isEmpty()) TIFFSetField(t, tag, text.toUtf8().constData());
}

// The image directory's share of the tags; exifOffset 0 = no EXIF directory.
void setDescriptiveFields(TIFF* t, const TiffTags& tags, uint64_t exifOffset) {
    setText(t, TIFFTAG_MAKE, tags.make);
    setText(t, TIFFTAG_MODEL, tags.model);
    setText(t, TIFFTAG_DATETIME, tags.dateTime);
    setText(t, TIFFTAG_IMAGEDESCRIPTION, tags.description);
    if (!tags.iccProfile.isEmpty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(tags.iccProfile.size()),
                     tags.iccProfile.constData());
    if (exifOffset != 0) TIFFSetField(t, TIFFTAG_EXIFIFD, exifOffset);
}

QString textField(TIFF* t, uint32_t tag) {
    const char* text = nullptr;
    if (!TIFFGetField(t, tag, &text) || !text) return {};
    return QString::fromUtf8(text).trimmed();
}

std::optional<double> positive(double v) {
    return std::isfinite(v) && v > 0 ? std::optional<double>(v) : std::nullopt;
}

// A rational EXIF value. libtiff hands some rationals out as float and others
// as double, and has changed which between versions: its field table says.
std::optional<double> rationalField(TIFF* t, uint32_t tag) {
    const TIFFField* field = TIFFFieldWithTag(t, tag);
    if (!field) return std::nullopt;
    if (TIFFFieldSetGetSize(field) == sizeof(float)) {
        float v = 0;
        return TIFFGetField(t, tag, &v) ? positive(v) : std::nullopt;
    }
    double v = 0;
    return TIFFGetField(t, tag, &v) ? positive(v) : std::nullopt;
}

ExifShot readExif(TIFF* t, uint64_t offset) {
    ExifShot exif;
    if (!TIFFReadEXIFDirectory(t, offset)) return exif;
    exif.exposureTime = rationalField(t, EXIFTAG_EXPOSURETIME);
    exif.fNumber = rationalField(t, EXIFTAG_FNUMBER);
    exif.focalLength = rationalField(t, EXIFTAG_FOCALLENGTH);
    uint16_t count = 0;
    const uint16_t* iso = nullptr;
    if (TIFFGetField(t, EXIFTAG_ISOSPEEDRATINGS, &count, &iso) && count > 0 && iso && iso[0] > 0)
        exif.iso = iso[0];
    return exif;
}

// Removes the temporary file unless the save got as far as renaming it.
struct PartialFile {
    QString path;
    bool keep = false;
    ~PartialFile() {
        if (!keep) QFile::remove(path);
    }
};

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

RgbRows bitmapRows(const GflBitmap& image) {
    RgbRows rows;
    if (image.empty() || image.pixels.size() != image.sampleCount()) return rows;
    rows.width = image.width;
    rows.height = image.height;
    rows.fill = [&image](int32_t first, int32_t count, uint16_t* out) {
        std::memcpy(out, image.row(first), static_cast<size_t>(count) * image.width * 6);
    };
    return rows;
}

void writeTiffRgb16(const GflBitmap& image, const QString& path, const TiffTags& tags) {
    writeTiffRgb16(bitmapRows(image), path, tags);
}

void writeTiffRgb16(const RgbRows& image, const QString& path, const TiffTags& tags) {
    if (image.empty()) throw TiffError(QStringLiteral("Nothing to save: the image is empty"));
    const size_t rowBytes = static_cast<size_t>(image.width) * 6;
    const auto rowsPerStrip = static_cast<uint32_t>(std::max<size_t>(1, kStripBytes / rowBytes));
    const int stripsPerBand =
        static_cast<int>(std::max<size_t>(1, kBandBytes / (rowsPerStrip * rowBytes)));
    const int bandRows = stripsPerBand * static_cast<int>(rowsPerStrip);
    const int bands = rowBandCount(image.height, bandRows);

    PartialFile partial{path + QStringLiteral(".part")};
    Messages messages;
    {
        TiffPtr tif = openTiff(partial.path, "w", messages);
        if (!tif) fail(messages, QStringLiteral("Cannot create ") + path);
        TIFF* t = tif.get();
        const uint64_t exifOffset =
            tags.exif.empty() ? 0 : writeExifDirectory(t, tags.exif, messages);
        setLzwRgb16Fields(t, static_cast<uint32_t>(image.width),
                          static_cast<uint32_t>(image.height), rowsPerStrip);
        TIFFSetField(t, TIFFTAG_SOFTWARE, kSoftware);
        setDescriptiveFields(t, tags, exifOffset);

        // Up to four encoded bands per thread may wait for their turn: enough
        // that one slow band rarely stalls the others, and about 4 MB per
        // thread at most instead of a compressed copy of the whole image.
        BandSequencer sequencer(t, messages, 4 * parallelThreads());
        parallelRows(image.height, bandRows, [&](const RowBand& band) {
            try {
                if (!sequencer.waitForRoom(band.index)) return;
                sequencer.deliver(band.index, encodeBand(image, band, rowsPerStrip));
            } catch (...) {
                sequencer.stop();
                throw;
            }
        });
        if (sequencer.written() != bands || !TIFFWriteDirectory(t))
            fail(messages, QStringLiteral("Write error on ") + path);
        tif.reset();  // flushes; errors on close are captured too
        if (!messages.firstError.isEmpty()) fail(messages, QString());
    }
    if (std::rename(QFile::encodeName(partial.path).constData(),
                    QFile::encodeName(path).constData()) != 0)
        throw TiffError(path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno)));
    partial.keep = true;
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

TiffTags readTiffTags(const QString& path) {
    Messages messages;
    TiffPtr tif = openTiff(path, "r", messages);
    if (!tif) fail(messages, QStringLiteral("Cannot open ") + path);
    TIFF* t = tif.get();
    TiffTags tags;
    uint32_t iccSize = 0;
    const void* icc = nullptr;
    if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0)
        tags.iccProfile =
            QByteArray(static_cast<const char*>(icc), static_cast<qsizetype>(iccSize));
    tags.make = textField(t, TIFFTAG_MAKE);
    tags.model = textField(t, TIFFTAG_MODEL);
    tags.dateTime = textField(t, TIFFTAG_DATETIME);
    tags.description = textField(t, TIFFTAG_IMAGEDESCRIPTION);
    // Last: reading the EXIF directory replaces the image directory's fields.
    uint64_t exifOffset = 0;
    if (TIFFGetField(t, TIFFTAG_EXIFIFD, &exifOffset) && exifOffset != 0)
        tags.exif = readExif(t, exifOffset);
    return tags;
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
