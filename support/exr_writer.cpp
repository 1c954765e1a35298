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
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Rows made and written at a time: four ZIP blocks of 16 rows, so that each
// core has a block to compress; at 6000 pixels a row, 12 MB of working rows.
constexpr int kChunkRows = 64;
// Rows made by one task within a chunk.
constexpr int kBandRows = 4;

// The half nearest to v (v >= 0 or not), ties to even, found on the double
// itself: through a float it would be rounded twice.
half nearestHalf(double v) {
    const double a = std::fabs(v);
    double q;
    if (a < 0x1p-14) {
        q = std::nearbyint(a * 0x1p24) * 0x1p-24;  // subnormal halves: steps of 2^-24
    } else {
        int e = 0;
        std::frexp(a, &e);  // a in [2^(e-1), 2^e): 11 significant bits are steps of 2^(e-11)
        q = std::ldexp(std::nearbyint(std::ldexp(a, 11 - e)), e - 11);
    }
    const half h(static_cast<float>(std::fmin(q, HALF_MAX)));
    return v < 0 ? -h : h;
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

}  // namespace

void writeExr(const LinearRgbRows& rows, const QString& path, ExrPixels pixels,
              const ExrAttributes& attributes) {
    if (rows.empty()) throw LibraryError(QStringLiteral("Nothing to save: the image is empty"));
    PartialFile partial(path);
    try {
        // The compression threads; the file's bytes are the same with any number.
        Imf::setGlobalThreadCount(parallelThreads());
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
