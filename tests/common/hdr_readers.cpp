// Readers of the outputs on OpenEXR, libtiff and libavif.
#include "tests/common/hdr_readers.h"

#include <avif/avif.h>
#include <tiffio.h>

#include <ImfFrameBuffer.h>
#include <ImfInputFile.h>

#include <QFile>

std::vector<float> readExrPixels(const QString& path) {
    Imf::InputFile file(QFile::encodeName(path).constData());
    const Imath::Box2i box = file.header().dataWindow();
    const size_t w = static_cast<size_t>(box.max.x + 1);
    std::vector<float> v(w * static_cast<size_t>(box.max.y + 1) * 3);
    Imf::FrameBuffer frame;
    for (size_t c = 0; c < 3; ++c)
        frame.insert(std::string(1, "RGB"[c]),
                     Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(v.data() + c),
                                3 * sizeof(float), 3 * sizeof(float) * w));
    file.setFrameBuffer(frame);
    file.readPixels(box.min.y, box.max.y);
    return v;
}

Imf::Header readExrHeader(const QString& path) {
    return Imf::InputFile(QFile::encodeName(path).constData()).header();
}

std::vector<float> readFloatTiffPixels(const QString& path) {
    std::vector<float> v;
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!t) return v;
    uint32_t w = 0, h = 0;
    uint16_t bits = 0, format = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    if (bits == 32 && format == SAMPLEFORMAT_IEEEFP) {
        v.resize(static_cast<size_t>(w) * h * 3);
        for (uint32_t y = 0; y < h; ++y)
            TIFFReadScanline(t, v.data() + static_cast<size_t>(y) * w * 3, y);
    }
    TIFFClose(t);
    return v;
}

DecodedAvif decodeAvif(const QString& path) {
    DecodedAvif d;
    QFile f(path);
    const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    avifDecoder* decoder = avifDecoderCreate();
    avifImage* image = avifImageCreateEmpty();
    avifRGBImage rgb{};
    if (avifDecoderReadMemory(decoder, image, reinterpret_cast<const uint8_t*>(bytes.constData()),
                              static_cast<size_t>(bytes.size())) == AVIF_RESULT_OK) {
        d.depth = static_cast<int>(image->depth);
        d.cicp = {image->colorPrimaries, image->transferCharacteristics, image->matrixCoefficients};
        d.yuv444 = image->yuvFormat == AVIF_PIXEL_FORMAT_YUV444;
        d.fullRange = image->yuvRange == AVIF_RANGE_FULL;
        d.exif = QByteArray(reinterpret_cast<const char*>(image->exif.data),
                            static_cast<qsizetype>(image->exif.size));
        avifRGBImageSetDefaults(&rgb, image);
        rgb.format = AVIF_RGB_FORMAT_RGB;
#if AVIF_VERSION >= 1000000
        d.ok = avifRGBImageAllocatePixels(&rgb) == AVIF_RESULT_OK;
#else
        avifRGBImageAllocatePixels(&rgb);  // gives no result before 1.0
        d.ok = true;
#endif
        d.ok = d.ok && avifImageYUVToRGB(image, &rgb) == AVIF_RESULT_OK;
        for (uint32_t y = 0; d.ok && y < rgb.height; ++y) {
            const auto* row = reinterpret_cast<const uint16_t*>(rgb.pixels + y * rgb.rowBytes);
            d.codes.insert(d.codes.end(), row, row + rgb.width * 3);
        }
        avifRGBImageFreePixels(&rgb);
    }
    avifImageDestroy(image);
    avifDecoderDestroy(decoder);
    return d;
}

std::optional<std::array<uint16_t, 2>> contentLightLevel(const QString& path) {
    QFile f(path);
    const QByteArray b = f.open(QIODevice::ReadOnly) ? f.read(4096) : QByteArray();
    // A 12-byte box: its size, "clli", MaxCLL and MaxFALL, big-endian.
    const qsizetype at =
        b.indexOf(QByteArray("\0\0\0\x0c"
                             "clli",
                             8));
    if (at < 0) return std::nullopt;
    auto u16 = [&b](qsizetype i) {
        return static_cast<uint16_t>((uint8_t(b[i]) << 8) | uint8_t(b[i + 1]));
    };
    return std::array<uint16_t, 2>{u16(at + 8), u16(at + 10)};
}
