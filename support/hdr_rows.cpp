// OpenEXR files through OpenEXR's scanline reader over the open file, HDR
// AVIFs decoded whole by libavif; float TIFFs are read in tiff_rows.cpp.
#include "support/hdr_rows.h"

#include "support/errors.h"
#include "support/opened_file.h"
#include "support/parallel.h"
#include "support/screen_picture.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <avif/avif.h>

#include <Iex.h>
#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Beyond this a picture is not one of ours, whatever its header says.
constexpr int64_t kLargestSide = 1 << 20;

[[noreturn]] void unreadable(const OpenedFile& file, const QString& why) {
    throw RunError(kErrInvalidPicture, why + QStringLiteral(": ") + file.path());
}

// Memory for `bytes` more, asked for before a library that cannot fail
// gracefully allocates it.
void needMemory(uint64_t bytes) {
    void* p = bytes < (uint64_t(1) << 46) ? std::malloc(static_cast<size_t>(bytes)) : nullptr;
    if (!p) throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));
    std::free(p);
}

bool startsWith(const OpenedFile& file, const char* bytes, int count, uint64_t at = 0) {
    char head[16] = {};
    return file.readAt(head, count, at) == count && std::memcmp(head, bytes, count) == 0;
}

// OpenEXR's input over the file held open, with a position of its own.
class OpenedStream final : public Imf::IStream {
  public:
    explicit OpenedStream(const OpenedFile& file)
        : Imf::IStream(QFile::encodeName(file.path()).constData()), file_(file) {}
    bool read(char c[], int n) override {
        if (file_.readAt(c, n, at_) != n) throw Iex::InputExc("Unexpected end of file");
        at_ += static_cast<uint64_t>(n);
        return at_ < file_.size();
    }
    uint64_t tellg() override { return at_; }
    void seekg(uint64_t pos) override { at_ = pos; }

  private:
    const OpenedFile& file_;
    uint64_t at_ = 0;
};

class ExrRows final : public HdrRowReader {
  public:
    explicit ExrRows(const OpenedFile& file) : stream_(file), input_(stream_, 0) {
        const Imf::Header& header = input_.header();
        const Imath::Box2i box = header.dataWindow();
        const int64_t w = int64_t(box.max.x) - box.min.x + 1;
        const int64_t h = int64_t(box.max.y) - box.min.y + 1;
        if (w < 1 || h < 1 || w > kLargestSide || h > kLargestSide)
            unreadable(file, QStringLiteral("Bad image size"));
        const Imf::ChannelList& channels = header.channels();
        const bool rgb =
            channels.findChannel("R") && channels.findChannel("G") && channels.findChannel("B");
        if (!rgb && !channels.findChannel("Y"))
            unreadable(file, QStringLiteral("No R, G, B or Y channels"));
        grey_ = !rgb;
        kind_ = HdrFileKind::Exr;
        width_ = static_cast<int>(w);
        height_ = static_cast<int>(h);
        left_ = box.min.x;
        top_ = box.min.y;
        block_ = linesInBuffer(header.compression());
    }
    int blockRows() const override { return block_; }
    void readRows(int first, int count, float* out) override {
        const size_t xs = 3 * sizeof(float), ys = xs * static_cast<size_t>(width_);
        // OpenEXR addresses pixel (x, y) of the data window at base + x xs + y ys.
        const auto base = reinterpret_cast<intptr_t>(out) - static_cast<intptr_t>(left_) * xs -
                          static_cast<intptr_t>(top_ + first) * static_cast<intptr_t>(ys);
        Imf::FrameBuffer frame;
        const char* names[3] = {"R", "G", "B"};
        for (int c = 0; c < (grey_ ? 1 : 3); ++c)
            frame.insert(
                grey_ ? "Y" : names[c],
                Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(base + c * intptr_t(sizeof(float))),
                           xs, ys));
        try {
            input_.setFrameBuffer(frame);
            input_.readPixels(top_ + first, top_ + first + count - 1);
        } catch (const std::exception& e) {
            throw RunError(kErrInvalidPicture, QString::fromUtf8(e.what()));
        }
        if (grey_)
            for (size_t i = 0; i < static_cast<size_t>(count) * width_ * 3; i += 3)
                out[i + 1] = out[i + 2] = out[i];
    }

  private:
    // Lines each compression stores in one block.
    static int linesInBuffer(Imf::Compression c) {
        switch (c) {
            case Imf::NO_COMPRESSION:
            case Imf::RLE_COMPRESSION:
            case Imf::ZIPS_COMPRESSION:
                return 1;
            case Imf::ZIP_COMPRESSION:
            case Imf::PXR24_COMPRESSION:
                return 16;
            default:
                return 32;
        }
    }

    OpenedStream stream_;
    Imf::InputFile input_;
    bool grey_ = false;
    int left_ = 0, top_ = 0, block_ = 16;
};

// The AVIF's full-range R'G'B' codes, decoded once and kept.
class AvifRows final : public HdrRowReader {
  public:
    explicit AvifRows(const OpenedFile& file) {
        const QByteArray bytes = file.readAll();
        std::unique_ptr<avifDecoder, decltype(&avifDecoderDestroy)> decoder(avifDecoderCreate(),
                                                                            avifDecoderDestroy);
        if (!decoder) throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));
        decoder->maxThreads = parallelThreads();
        decoder->ignoreXMP = AVIF_TRUE;
        decoder->imageDimensionLimit = kLargestSide;
        check(file, avifDecoderSetIOMemory(decoder.get(),
                                           reinterpret_cast<const uint8_t*>(bytes.constData()),
                                           static_cast<size_t>(bytes.size())));
        check(file, avifDecoderParse(decoder.get()));
        const avifImage* image = decoder->image;
        if (image->width < 1 || image->height < 1 || image->width > kLargestSide ||
            image->height > kLargestSide)
            unreadable(file, QStringLiteral("Bad image size"));
        // The decoder's planes and our codes, asked for before libavif
        // allocates its part (it stops the program when it cannot).
        const uint64_t pixels = uint64_t(image->width) * image->height;
        needMemory(pixels * 12);
        kind_ = HdrFileKind::Avif;
        width_ = static_cast<int>(image->width);
        height_ = static_cast<int>(image->height);
        check(file, avifDecoderNextImage(decoder.get()));
        image = decoder->image;
        if (int64_t(image->width) != width_ || int64_t(image->height) != height_)
            unreadable(file, QStringLiteral("Bad image size"));
        depth_ = static_cast<int>(image->depth);
        try {
            codes_.resize(pixels * 3);
        } catch (const std::bad_alloc&) {
            throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));
        }
        avifRGBImage rgb{};
        avifRGBImageSetDefaults(&rgb, image);
        rgb.format = AVIF_RGB_FORMAT_RGB;
        rgb.depth = std::max<uint32_t>(image->depth, 9);  // 8-bit codes as 16-bit samples
        rgb.pixels = reinterpret_cast<uint8_t*>(codes_.data());
        rgb.rowBytes = image->width * 3 * sizeof(uint16_t);
        check(file, avifImageYUVToRGB(image, &rgb));
        if (image->depth == 8) {
            // Widened to 9 bits by libavif: back to the file's own 8.
            for (uint16_t& v : codes_) v = static_cast<uint16_t>((v * 255 + 255) / 511);
        }
    }
    int blockRows() const override { return height_; }
    void readRows(int first, int count, float* out) override {
        const uint16_t* in = codes_.data() + static_cast<size_t>(first) * width_ * 3;
        std::copy_n(in, static_cast<size_t>(count) * width_ * 3, out);
    }

  private:
    static void check(const OpenedFile& file, avifResult result) {
        if (result != AVIF_RESULT_OK)
            unreadable(file,
                       QStringLiteral("libavif: ") + QString::fromUtf8(avifResultToString(result)));
    }
    std::vector<uint16_t> codes_;
};

}  // namespace

std::unique_ptr<HdrRowReader> openHdrRows(const OpenedFile& file) {
    if (startsWith(file, "\x76\x2f\x31\x01", 4)) {
        try {
            return std::make_unique<ExrRows>(file);
        } catch (const RunError&) {
            throw;
        } catch (const std::bad_alloc&) {
            throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));
        } catch (const std::exception& e) {
            unreadable(file, QString::fromUtf8(e.what()));
        }
    }
    if (startsWith(file, "ftyp", 4, 4)) return std::make_unique<AvifRows>(file);
    if (isTiffFile(file)) return openFloatTiffRows(file);
    return nullptr;
}
