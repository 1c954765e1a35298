// OpenEXR scanline files written chunk by chunk: the rows of a chunk are made
// on all cores, then OpenEXR compresses its 16-row ZIP blocks on its own
// thread pool and writes them in order.
#include "support/exr_writer.h"

#include "support/errors.h"
#include "support/parallel.h"
#include "support/partial_file.h"

#include <IexBaseExc.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <ImfThreading.h>
#include <half.h>

#include <QFile>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Rows made and written at a time: 16 ZIP blocks of 16 rows, so that the
// cores rarely wait for the chunk's last block; at 6000 pixels a row, 9 MB of
// halves or 18 MB of floats.
constexpr int kChunkRows = 256;
// zlib's fastest level: zlib's time is most of a file's (level 4, OpenEXR's
// default, took 1.3 times as long for floats).
constexpr int kZipLevel = 1;
// Rows made by one task within a chunk.
constexpr int kBandRows = 4;

// The half nearest to v, ties to even, rounded once from the double's own
// bits (through a float it would be rounded twice): 10 of its 52 mantissa
// bits stay. Beyond the largest half it stays at the largest.
half nearestHalf(double v) {
    constexpr uint16_t kLargest = 0x7BFF;  // 65504
    uint64_t bits = std::bit_cast<uint64_t>(v);
    const auto sign = static_cast<uint16_t>((bits >> 48) & 0x8000);
    bits &= ~(uint64_t{1} << 63);
    const int exponent = static_cast<int>(bits >> 52) - 1023;
    uint16_t magnitude;
    if (exponent > 15) {
        magnitude = kLargest;
    } else if (exponent >= -14) {
        const uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
        uint64_t kept = mantissa >> 42;
        const uint64_t rest = mantissa & ((uint64_t{1} << 42) - 1), halfway = uint64_t{1} << 41;
        if (rest > halfway || (rest == halfway && (kept & 1))) ++kept;
        // A carry out of the mantissa moves on into the exponent by itself.
        const uint64_t rounded = (static_cast<uint64_t>(exponent + 15) << 10) + kept;
        magnitude = static_cast<uint16_t>(std::min<uint64_t>(rounded, kLargest));
    } else {
        // Subnormal halves are steps of 2^-24; the largest rounds up into the
        // smallest normal one, whose bits follow on.
        magnitude = static_cast<uint16_t>(std::nearbyint(std::fabs(v) * 0x1p24));
    }
    half h;
    h.setBits(static_cast<uint16_t>(sign | magnitude));
    return h;
}

// OpenEXR's output through stdio, so that every failed write is seen, also
// those OpenEXR makes while it closes the file (it fills in the offsets of
// the blocks then, and its own stream keeps quiet about a failure there).
class StdioStream : public Imf::OStream {
  public:
    // Writes `path`; messages name the file as `shown`.
    StdioStream(const QString& path, const QString& shown)
        : Imf::OStream(QFile::encodeName(shown).constData()),
          file_(std::fopen(QFile::encodeName(path).constData(), "wb")) {
        if (!file_) fail();
    }
    ~StdioStream() override {
        if (file_) std::fclose(file_);
    }
    void write(const char c[], int n) override {
        if (std::fwrite(c, 1, static_cast<size_t>(n), file_) != static_cast<size_t>(n)) fail();
    }
    uint64_t tellp() override { return static_cast<uint64_t>(ftello(file_)); }
    void seekp(uint64_t pos) override {
        if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0) fail();
    }
    // Closes the file: the first failure of any write or of the close, empty
    // when there was none.
    QString close() {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!closed && error_.isEmpty()) error_ = reason();
        return error_;
    }

  private:
    QString reason() const {
        return QString::fromLocal8Bit(fileName()) + QStringLiteral(": ") +
               QString::fromLocal8Bit(std::strerror(errno));
    }
    [[noreturn]] void fail() {
        if (error_.isEmpty()) error_ = reason();
        throw Iex::IoExc(error_.toStdString());
    }

    std::FILE* file_;
    QString error_;
};

Imath::V2f xy(const Chromaticity& c) {
    return {static_cast<float>(c.x), static_cast<float>(c.y)};
}

Imf::Header headerOf(const LinearRgbRows& rows, ExrPixels pixels, const ExrAttributes& a) {
    Imf::Header header(rows.width, rows.height);
    header.compression() = Imf::ZIP_COMPRESSION;
    header.zipCompressionLevel() = kZipLevel;
    const Imf::PixelType type = pixels == ExrPixels::Half ? Imf::HALF : Imf::FLOAT;
    for (const char* name : {"R", "G", "B"}) header.channels().insert(name, Imf::Channel(type));
    if (a.chromaticities)
        Imf::addChromaticities(
            header, Imf::Chromaticities(xy(a.chromaticities->red), xy(a.chromaticities->green),
                                        xy(a.chromaticities->blue), xy(a.chromaticities->white)));
    if (!a.capDate.isEmpty()) Imf::addCapDate(header, a.capDate.toStdString());
    if (a.expTime) Imf::addExpTime(header, static_cast<float>(*a.expTime));
    if (a.aperture) Imf::addAperture(header, static_cast<float>(*a.aperture));
    if (a.isoSpeed) Imf::addIsoSpeed(header, static_cast<float>(*a.isoSpeed));
    if (!a.comments.isEmpty()) Imf::addComments(header, a.comments.toStdString());
    return header;
}

// Fills and writes every chunk of rows, samples of type T.
template <typename T>
void writeChunks(Imf::OutputFile& file, const LinearRgbRows& rows, Imf::PixelType type) {
    const size_t rowSamples = static_cast<size_t>(rows.width) * 3;
    std::vector<T> chunk(rowSamples * kChunkRows);
    const size_t xStride = 3 * sizeof(T), yStride = rowSamples * sizeof(T);
    for (int32_t first = 0; first < rows.height; first += kChunkRows) {
        const int count = std::min(kChunkRows, rows.height - first);
        parallelRows(count, kBandRows, [&](const RowBand& band) {
            std::vector<double> values(rowSamples * static_cast<size_t>(band.end - band.begin));
            rows.fill(first + band.begin, band.end - band.begin, values.data());
            T* out = chunk.data() + static_cast<size_t>(band.begin) * rowSamples;
            for (size_t i = 0; i < values.size(); ++i) {
                if constexpr (std::is_same_v<T, half>)
                    out[i] = nearestHalf(values[i]);
                else
                    out[i] = static_cast<float>(values[i]);
            }
        });
        // OpenEXR finds row y at base + y * yStride: the base of this chunk
        // lies `first` rows before its buffer (an address only ever offset
        // back into the buffer, so it is computed as a number).
        const uintptr_t base =
            reinterpret_cast<uintptr_t>(chunk.data()) - static_cast<uintptr_t>(first) * yStride;
        Imf::FrameBuffer frame;
        const char* names[3] = {"R", "G", "B"};
        for (size_t c = 0; c < 3; ++c)
            frame.insert(names[c], Imf::Slice(type, reinterpret_cast<char*>(base + c * sizeof(T)),
                                              xStride, yStride));
        file.setFrameBuffer(frame);
        file.writePixels(count);
    }
}

// OpenEXR's compression threads for one file: started for it and ended
// after it, so that none is left idle between saves (nor in a child process
// forked meanwhile, where it would not exist).
struct CompressionThreads {
    CompressionThreads() { Imf::setGlobalThreadCount(parallelThreads()); }
    ~CompressionThreads() { Imf::setGlobalThreadCount(0); }
};

}  // namespace

void writeExr(const LinearRgbRows& rows, const QString& path, ExrPixels pixels,
              const ExrAttributes& attributes) {
    if (rows.empty()) throw LibraryError(QStringLiteral("Nothing to save: the image is empty"));
    PartialFile partial(path);
    try {
        // The file's bytes are the same with any number of threads.
        const CompressionThreads threads;
        StdioStream stream(partial.path(), path);
        {
            Imf::OutputFile file(stream, headerOf(rows, pixels, attributes));
            if (pixels == ExrPixels::Half)
                writeChunks<half>(file, rows, Imf::HALF);
            else
                writeChunks<float>(file, rows, Imf::FLOAT);
        }
        const QString closeError = stream.close();
        if (!closeError.isEmpty()) throw LibraryError(closeError);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const LibraryError&) {
        throw;
    } catch (const std::exception& e) {
        throw LibraryError(QString::fromLocal8Bit(e.what()));
    }
    const QString renameError = partial.commit();
    if (!renameError.isEmpty()) throw LibraryError(renameError);
}
