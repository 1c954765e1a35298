// Writing of 16-bit and 32-bit float RGB TIFFs: strips are encoded on several threads and go
// in order into a temporary file, which replaces the target only once complete.
#include "support/tiff_io.h"

#include "orrindale_version.h"
#include "support/gfl_bitmap.h"
#include "support/parallel.h"
#include "support/partial_file.h"
#include "support/tiff_internal.h"

#include <tiffio.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

using tiff_internal::fail;
using tiff_internal::messageOptions;
using tiff_internal::Messages;
using tiff_internal::openTiff;
using tiff_internal::OptionsPtr;
using tiff_internal::setDescriptiveFields;
using tiff_internal::TiffPtr;
using tiff_internal::writeExifDirectory;

namespace {

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

// Float strips: Deflate at its fastest level, which packed the byte planes of
// the floating-point predictor tighter than LZW (210 MB against 250 MB for a
// grainy 24-megapixel frame) in three quarters of LZW's time.
constexpr uint16_t kFloatCodec = COMPRESSION_ADOBE_DEFLATE;
constexpr int kFloatLevel = 1;

// What a file's strips hold: 16-bit integer samples, or 32-bit floating-point
// ones, and the rows that make them.
struct StripImage {
    int32_t width = 0;
    int32_t height = 0;
    bool floating = false;
    // fill(first, count, out): rows [first, first + count) as the file holds them.
    std::function<void(int32_t first, int32_t count, void* out)> fill;

    size_t rowBytes() const { return static_cast<size_t>(width) * (floating ? 12 : 6); }
};

// The fields a strip is encoded under. The band encoders and the file share
// them (and both use the host byte order), so the bytes a band encoder makes
// are the bytes libtiff would have written into the file itself. 16-bit files
// keep their fields as they always were: no SampleFormat tag.
void setStripFields(TIFF* t, const StripImage& image, uint32_t height, uint32_t rowsPerStrip) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, image.floating ? 32 : 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    if (image.floating) TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    // The predictor tag only exists once a codec that takes one is chosen,
    // so the order matters. Floating-point samples are predicted byte plane
    // by byte plane, which the readers of float TIFFs all know.
    TIFFSetField(t, TIFFTAG_COMPRESSION, image.floating ? kFloatCodec : COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_PREDICTOR,
                 image.floating ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    if (image.floating) TIFFSetField(t, TIFFTAG_ZIPQUALITY, kFloatLevel);
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

// The encoded bytes of one band's strips, ready for TIFFWriteRawStrip in order.
struct EncodedBand {
    struct Span {
        uint64_t offset, size;
    };
    std::vector<uint8_t> bytes;  // the band's whole in-memory TIFF
    std::vector<Span> strips;    // where each strip's data lies in it
};

// Encodes the rows of one band as the strips the file will hold. The band
// starts on a strip boundary, so its strips are the file's strips.
EncodedBand encodeBand(const StripImage& image, const RowBand& band, uint32_t rowsPerStrip) {
    const size_t rowBytes = image.rowBytes();
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
        setStripFields(t, image, rows, rowsPerStrip);
        // Each strip's rows are made into a buffer of the encoder's, which
        // libtiff may change as it encodes.
        // (Whole 8-byte words, so that any sample type is aligned in it.)
        std::vector<uint64_t> strip((std::min(rowsPerStrip, rows) * rowBytes + 7) / 8);
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

constexpr char kSoftware[] = "Orrindale " ORRINDALE_VERSION;

void writeStrips(const StripImage& image, const QString& path, const TiffTags& tags) {
    const size_t rowBytes = image.rowBytes();
    const auto rowsPerStrip = static_cast<uint32_t>(std::max<size_t>(1, kStripBytes / rowBytes));
    const int stripsPerBand =
        static_cast<int>(std::max<size_t>(1, kBandBytes / (rowsPerStrip * rowBytes)));
    const int bandRows = stripsPerBand * static_cast<int>(rowsPerStrip);
    const int bands = rowBandCount(image.height, bandRows);

    PartialFile partial(path);
    Messages messages;
    {
        TiffPtr tif = openTiff(partial.path(), "w", messages);
        if (!tif) fail(messages, QStringLiteral("Cannot create ") + path);
        TIFF* t = tif.get();
        const uint64_t exifOffset =
            tags.exif.empty() ? 0 : writeExifDirectory(t, tags.exif, messages);
        setStripFields(t, image, static_cast<uint32_t>(image.height), rowsPerStrip);
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
    const QString renameError = partial.commit();
    if (!renameError.isEmpty()) throw TiffError(renameError);
}

}  // namespace

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

void writeTiffRgb16(const RgbRows& rows, const QString& path, const TiffTags& tags) {
    if (rows.empty()) throw TiffError(QStringLiteral("Nothing to save: the image is empty"));
    StripImage image;
    image.width = rows.width;
    image.height = rows.height;
    image.fill = [&rows](int32_t first, int32_t count, void* out) {
        rows.fill(first, count, static_cast<uint16_t*>(out));
    };
    writeStrips(image, path, tags);
}

void writeTiffFloat(const LinearRgbRows& rows, const QString& path, const TiffTags& tags) {
    if (rows.empty()) throw TiffError(QStringLiteral("Nothing to save: the image is empty"));
    StripImage image;
    image.width = rows.width;
    image.height = rows.height;
    image.floating = true;
    image.fill = [&rows](int32_t first, int32_t count, void* out) {
        // A row at a time through doubles: each value rounded once, to the
        // nearest single.
        const size_t samples = static_cast<size_t>(rows.width) * 3;
        std::vector<double> row(samples);
        auto* to = static_cast<float*>(out);
        for (int32_t y = first; y < first + count; ++y, to += samples) {
            rows.fill(y, 1, row.data());
            for (size_t i = 0; i < samples; ++i) to[i] = static_cast<float>(row[i]);
        }
    };
    writeStrips(image, path, tags);
}
