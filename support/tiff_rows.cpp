// Strip-wise TIFF decoding through libtiff's client interface, reading the
// file with pread so that readers on several threads share one descriptor.
#include "support/tiff_rows.h"

#include "support/errors.h"
#include "support/hdr_rows.h"
#include "support/opened_file.h"
#include "support/tiff_internal.h"
#include "support/tiff_io.h"

#include <QFile>
#include <algorithm>
#include <cstring>

using tiff_internal::Format;
using tiff_internal::Messages;
using tiff_internal::TiffPtr;

namespace {

// libtiff's file position for one reader; the descriptor is shared.
struct Position {
    const OpenedFile* file = nullptr;
    uint64_t at = 0;
};

tmsize_t readProc(thandle_t h, void* buffer, tmsize_t size) {
    auto* p = static_cast<Position*>(h);
    const int64_t n = p->file->readAt(buffer, size, p->at);
    if (n > 0) p->at += static_cast<uint64_t>(n);
    return static_cast<tmsize_t>(n);
}
tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}
toff_t seekProc(thandle_t h, toff_t offset, int whence) {
    auto* p = static_cast<Position*>(h);
    switch (whence) {
        case SEEK_SET:
            p->at = offset;
            break;
        case SEEK_CUR:
            p->at += offset;
            break;
        case SEEK_END:
            p->at = p->file->size() + offset;
            break;
        default:
            return static_cast<toff_t>(-1);
    }
    return p->at;
}
int closeProc(thandle_t) {
    return 0;
}
toff_t sizeProc(thandle_t h) {
    return static_cast<Position*>(h)->file->size();
}
int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}  // read, never mapped
void unmapProc(thandle_t, void*, toff_t) {}

// Strip `number`, of `rows` rows of `rowBytes` bytes, decoded into `out`.
void readStrip(TIFF* tif, const Messages& messages, uint32_t number, uint32_t rows, size_t rowBytes,
               void* out) {
    const auto want = static_cast<tmsize_t>(rows * rowBytes);
    if (TIFFReadEncodedStrip(tif, number, out, want) < want)
        tiff_internal::fail(messages,
                            QStringLiteral("Read error on data block %1").arg(number + 1));
}

}  // namespace

struct TiffRowReader::State {
    Messages messages;
    Position position;
    TiffPtr tif;
    Format format;
    uint32_t rowsPerStrip = 0;
    // Tiled and planar-separate files have no row access worth having here;
    // they are decoded whole once (6 bytes a pixel). Our writers and dcraw
    // write neither.
    GflBitmap whole;
    // The strip decoded last, as stored, and its number.
    std::vector<uint8_t> strip;
    int64_t stripNumber = -1;
};

TiffRowReader::TiffRowReader(const OpenedFile& file) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.position.file = &file;
    const tiff_internal::OptionsPtr options = tiff_internal::messageOptions(s.messages);
    s.tif.reset(TIFFClientOpenExt(QFile::encodeName(file.path()).constData(), "rm", &s.position,
                                  readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                                  unmapProc, options.get()));
    if (!s.tif) tiff_internal::fail(s.messages, QStringLiteral("Cannot open ") + file.path());
    s.format = tiff_internal::readFormat(s.tif.get(), file.size());
    const bool separate = s.format.planar == PLANARCONFIG_SEPARATE && s.format.samples > 1;
    if (TIFFIsTiled(s.tif.get()) || separate) {
        s.whole = tiff_internal::readImage(s.tif.get(), s.format, s.messages);
        s.rowsPerStrip = s.format.height;
        return;
    }
    s.rowsPerStrip = s.format.height;
    TIFFGetFieldDefaulted(s.tif.get(), TIFFTAG_ROWSPERSTRIP, &s.rowsPerStrip);
    if (s.rowsPerStrip == 0 || s.rowsPerStrip > s.format.height) s.rowsPerStrip = s.format.height;
    const uint64_t rowBytes =
        static_cast<uint64_t>(s.format.width) * s.format.samples * (s.format.bits / 8);
    const tmsize_t stripSize = TIFFStripSize(s.tif.get());
    if (stripSize <= 0 || static_cast<uint64_t>(stripSize) < rowBytes * s.rowsPerStrip)
        tiff_internal::fail(s.messages, QStringLiteral("Bad strip size"));
    s.strip.resize(static_cast<size_t>(stripSize));
}

TiffRowReader::~TiffRowReader() = default;

int TiffRowReader::width() const {
    return static_cast<int>(state_->format.width);
}
int TiffRowReader::height() const {
    return static_cast<int>(state_->format.height);
}
int TiffRowReader::blockRows() const {
    return static_cast<int>(state_->rowsPerStrip);
}

void TiffRowReader::readRows(int first, int count, uint16_t* out) {
    State& s = *state_;
    const Format& f = s.format;
    const size_t outRow = static_cast<size_t>(f.width) * 3;
    if (!s.whole.empty()) {
        std::memcpy(out, s.whole.row(first), outRow * static_cast<size_t>(count) * 2);
        return;
    }
    const size_t storedRow = static_cast<size_t>(f.width) * f.samples * (f.bits / 8);
    // What dcraw and our writers store, a whole strip asked for: decoded
    // straight into place.
    const bool asStored = f.layout == tiff_internal::Layout::Rgb && f.bits == 16 && f.samples == 3;
    for (int y = first; y < first + count;) {
        const uint32_t top = static_cast<uint32_t>(y);
        const uint32_t stripRows = std::min(s.rowsPerStrip, f.height - top);
        if (asStored && top % s.rowsPerStrip == 0 &&
            static_cast<int64_t>(top) + stripRows <= static_cast<int64_t>(first) + count) {
            readStrip(s.tif.get(), s.messages, top / s.rowsPerStrip, stripRows, storedRow, out);
            y += static_cast<int>(stripRows);
            out += outRow * stripRows;
            continue;
        }
        const auto number = static_cast<int64_t>(static_cast<uint32_t>(y) / s.rowsPerStrip);
        if (number != s.stripNumber) {
            s.stripNumber = -1;  // a failed read leaves no strip behind
            const uint32_t top = static_cast<uint32_t>(number) * s.rowsPerStrip;
            const uint32_t rows = std::min(s.rowsPerStrip, f.height - top);
            readStrip(s.tif.get(), s.messages, static_cast<uint32_t>(number), rows, storedRow,
                      s.strip.data());
            s.stripNumber = number;
        }
        const size_t row = static_cast<uint32_t>(y) % s.rowsPerStrip;
        tiff_internal::convertRun(s.strip.data() + row * storedRow, f.width, f, -1, out);
        ++y;
        out += outRow;
    }
}

namespace {

// A 32-bit float TIFF of one or three samples, in strips: what the float
// output is written as (and what editors save); anything else is refused.
class FloatTiffRows final : public HdrRowReader {
  public:
    FloatTiffRows(TiffPtr tif, std::unique_ptr<Messages> messages,
                  std::unique_ptr<Position> position, uint16_t samples, uint32_t rowsPerStrip)
        : messages_(std::move(messages)),
          position_(std::move(position)),
          tif_(std::move(tif)),
          samples_(samples),
          rowsPerStrip_(rowsPerStrip) {}

    void setSize(int w, int h) {
        kind_ = HdrFileKind::FloatTiff;
        width_ = w;
        height_ = h;
        strip_.resize(static_cast<size_t>(rowsPerStrip_) * static_cast<size_t>(w) * samples_);
    }
    int blockRows() const override { return static_cast<int>(rowsPerStrip_); }
    void readRows(int first, int count, float* out) override {
        const size_t storedRow = static_cast<size_t>(width_) * samples_;
        for (int y = first; y < first + count; ++y, out += static_cast<size_t>(width_) * 3) {
            const auto number = static_cast<int64_t>(static_cast<uint32_t>(y) / rowsPerStrip_);
            if (number != stripNumber_) {
                stripNumber_ = -1;  // a failed read leaves no strip behind
                const uint32_t top = static_cast<uint32_t>(number) * rowsPerStrip_;
                const uint32_t rows = std::min(rowsPerStrip_, static_cast<uint32_t>(height_) - top);
                readStrip(tif_.get(), *messages_, static_cast<uint32_t>(number), rows,
                          storedRow * sizeof(float), strip_.data());
                stripNumber_ = number;
            }
            const float* in =
                strip_.data() + (static_cast<uint32_t>(y) % rowsPerStrip_) * storedRow;
            if (samples_ == 3) {
                std::copy_n(in, storedRow, out);
                continue;
            }
            for (int x = 0; x < width_; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
        }
    }

  private:
    std::unique_ptr<Messages> messages_;
    std::unique_ptr<Position> position_;
    TiffPtr tif_;
    uint16_t samples_;
    uint32_t rowsPerStrip_;
    std::vector<float> strip_;
    int64_t stripNumber_ = -1;
};

}  // namespace

std::unique_ptr<HdrRowReader> openFloatTiffRows(const OpenedFile& file) {
    auto messages = std::make_unique<Messages>();
    auto position = std::make_unique<Position>();
    position->file = &file;
    const tiff_internal::OptionsPtr options = tiff_internal::messageOptions(*messages);
    TiffPtr tif(TIFFClientOpenExt(QFile::encodeName(file.path()).constData(), "rm", position.get(),
                                  readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                                  unmapProc, options.get()));
    if (!tif) tiff_internal::fail(*messages, QStringLiteral("Cannot open ") + file.path());
    uint16_t format = SAMPLEFORMAT_UINT, bits = 0, samples = 1, planar = PLANARCONFIG_CONTIG;
    uint32_t width = 0, height = 0, rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    if (format != SAMPLEFORMAT_IEEEFP) return nullptr;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    if (bits != 32 || (samples != 1 && samples != 3) ||
        (planar != PLANARCONFIG_CONTIG && samples > 1) || TIFFIsTiled(tif.get()))
        throw TiffError(QStringLiteral("Unsupported floating point TIFF (%1-bit, %2 samples, "
                                       "tiled or planar): ")
                            .arg(bits)
                            .arg(samples) +
                        file.path());
    if (width == 0 || height == 0 || width > (1u << 20) || height > (1u << 20))
        throw TiffError(QStringLiteral("Bad image size in ") + file.path());
    rowsPerStrip = height;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > height) rowsPerStrip = height;
    // A strip is held while its rows are read: one too large for memory is
    // refused rather than tried.
    if (static_cast<uint64_t>(rowsPerStrip) * width * samples * sizeof(float) > (1ull << 30))
        throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));
    auto reader = std::make_unique<FloatTiffRows>(std::move(tif), std::move(messages),
                                                  std::move(position), samples, rowsPerStrip);
    reader->setSize(static_cast<int>(width), static_cast<int>(height));
    return reader;
}
