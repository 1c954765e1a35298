// Readers of the outputs on OpenEXR, libtiff and libavif, and a plain walk
// over AVIF boxes and EXIF directories.
#include "tests/common/hdr_readers.h"

#include <avif/avif.h>
#include <tiffio.h>

#include <ImfFrameBuffer.h>
#include <ImfInputFile.h>

#include <QFile>
#include <QtEndian>

namespace {

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

uint64_t big(const QByteArray& b, qsizetype at, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n && at + i < b.size(); ++i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
    return v;
}

struct Box {
    QByteArray type;
    qsizetype body, end;
};

std::vector<Box> boxes(const QByteArray& b, qsizetype at, qsizetype end) {
    std::vector<Box> out;
    while (at + 8 <= end) {
        const auto size = static_cast<qsizetype>(big(b, at, 4));
        if (size < 8 || at + size > end) break;
        out.push_back({b.mid(at + 4, 4), at + 8, at + size});
        at += size;
    }
    return out;
}

std::optional<Box> find(const std::vector<Box>& list, const char* type) {
    for (const Box& box : list)
        if (box.type == type) return box;
    return std::nullopt;
}

}  // namespace

FloatPixels readExrPixels(const QString& path) {
    Imf::InputFile file(QFile::encodeName(path).constData());
    const Imath::Box2i window = file.header().dataWindow();
    FloatPixels p;
    p.width = window.max.x - window.min.x + 1;
    p.height = window.max.y - window.min.y + 1;
    p.values.resize(static_cast<size_t>(p.width) * p.height * 3);
    Imf::FrameBuffer frame;
    const char* names[3] = {"R", "G", "B"};
    for (size_t c = 0; c < 3; ++c)
        frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(p.values.data() + c),
                                          3 * sizeof(float), 3 * sizeof(float) * p.width));
    file.setFrameBuffer(frame);
    file.readPixels(window.min.y, window.max.y);
    return p;
}

Imf::Header readExrHeader(const QString& path) {
    return Imf::InputFile(QFile::encodeName(path).constData()).header();
}

FloatPixels readFloatTiffPixels(const QString& path) {
    FloatPixels p;
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!t) return p;
    uint32_t w = 0, h = 0;
    uint16_t bits = 0, format = 0, samples = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (bits == 32 && format == SAMPLEFORMAT_IEEEFP && samples == 3) {
        p.width = static_cast<int>(w);
        p.height = static_cast<int>(h);
        p.values.resize(static_cast<size_t>(w) * h * 3);
        for (uint32_t y = 0; y < h; ++y)
            TIFFReadScanline(t, p.values.data() + static_cast<size_t>(y) * w * 3, y);
    }
    TIFFClose(t);
    return p;
}

DecodedAvif decodeAvif(const QString& path) {
    DecodedAvif d;
    const QByteArray bytes = bytesOf(path);
    avifDecoder* decoder = avifDecoderCreate();
    avifImage* image = avifImageCreateEmpty();
    if (avifDecoderReadMemory(decoder, image, reinterpret_cast<const uint8_t*>(bytes.constData()),
                              static_cast<size_t>(bytes.size())) == AVIF_RESULT_OK) {
        d.width = static_cast<int>(image->width);
        d.height = static_cast<int>(image->height);
        d.depth = static_cast<int>(image->depth);
        d.primaries = image->colorPrimaries;
        d.transfer = image->transferCharacteristics;
        d.matrix = image->matrixCoefficients;
        d.yuv444 = image->yuvFormat == AVIF_PIXEL_FORMAT_YUV444;
        d.fullRange = image->yuvRange == AVIF_RANGE_FULL;
        d.exif = QByteArray(reinterpret_cast<const char*>(image->exif.data),
                            static_cast<qsizetype>(image->exif.size));
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, image);
        rgb.format = AVIF_RGB_FORMAT_RGB;
        rgb.depth = image->depth;
        avifRGBImageAllocatePixels(&rgb);
        if (avifImageYUVToRGB(image, &rgb) == AVIF_RESULT_OK) {
            d.codes.resize(static_cast<size_t>(d.width) * d.height * 3);
            for (int y = 0; y < d.height; ++y)
                std::copy_n(reinterpret_cast<const uint16_t*>(rgb.pixels + y * rgb.rowBytes),
                            static_cast<size_t>(d.width) * 3,
                            d.codes.data() + static_cast<size_t>(y) * d.width * 3);
            d.ok = true;
        }
        avifRGBImageFreePixels(&rgb);
    }
    avifImageDestroy(image);
    avifDecoderDestroy(decoder);
    return d;
}

std::optional<std::array<uint16_t, 2>> contentLightLevel(const QString& path) {
    const QByteArray b = bytesOf(path);
    const auto meta = find(boxes(b, 0, b.size()), "meta");
    if (!meta) return std::nullopt;
    const std::vector<Box> inMeta = boxes(b, meta->body + 4, meta->end);
    const auto pitm = find(inMeta, "pitm");
    const auto iprp = find(inMeta, "iprp");
    if (!pitm || !iprp) return std::nullopt;
    const uint64_t primary = big(b, pitm->body + 4, big(b, pitm->body, 1) == 0 ? 2 : 4);
    const std::vector<Box> inIprp = boxes(b, iprp->body, iprp->end);
    const auto ipco = find(inIprp, "ipco");
    const auto ipma = find(inIprp, "ipma");
    if (!ipco || !ipma) return std::nullopt;
    const std::vector<Box> properties = boxes(b, ipco->body, ipco->end);
    const bool wide = (big(b, ipma->body + 1, 3) & 1) != 0;
    const int idSize = big(b, ipma->body, 1) < 1 ? 2 : 4;
    qsizetype at = ipma->body + 8;
    for (uint64_t e = big(b, ipma->body + 4, 4); e > 0; --e) {
        const uint64_t item = big(b, at, idSize);
        const auto count = static_cast<int>(big(b, at + idSize, 1));
        at += idSize + 1;
        for (int a = 0; a < count; ++a, at += wide ? 2 : 1) {
            const uint64_t index = big(b, at, wide ? 2 : 1) & (wide ? 0x7FFF : 0x7F);
            if (item != primary || index == 0 || index > properties.size()) continue;
            const Box& p = properties[index - 1];
            if (p.type == "clli")
                return std::array<uint16_t, 2>{static_cast<uint16_t>(big(b, p.body, 2)),
                                               static_cast<uint16_t>(big(b, p.body + 2, 2))};
        }
    }
    return std::nullopt;
}

ExifFields readExif(const QByteArray& block) {
    ExifFields fields;
    // The TIFF header may follow a 4-byte offset or "Exif\0\0" in some files.
    const qsizetype start = block.indexOf("II*");
    if (start < 0) return fields;
    const QByteArray b = block.mid(start);
    auto u16 = [&b](qsizetype at) { return qFromLittleEndian<uint16_t>(b.constData() + at); };
    auto u32 = [&b](qsizetype at) { return qFromLittleEndian<uint32_t>(b.constData() + at); };
    std::vector<uint32_t> directories{u32(4)};
    for (size_t d = 0; d < directories.size(); ++d) {
        const uint32_t at = directories[d];
        if (at + 2 > static_cast<uint32_t>(b.size())) break;
        for (uint16_t i = 0; i < u16(at); ++i) {
            const qsizetype e = at + 2 + 12 * i;
            const uint16_t tag = u16(e), type = u16(e + 2);
            const uint32_t count = u32(e + 4), value = u32(e + 8);
            if (type == 2)
                fields.text[tag] = QString::fromLatin1(count <= 4 ? b.mid(e + 8, count - 1)
                                                                  : b.mid(value, count - 1));
            if (type == 3) fields.number[tag] = u16(e + 8);
            if (type == 5) fields.number[tag] = static_cast<double>(u32(value)) / u32(value + 4);
            if (tag == 0x8769) directories.push_back(value);
        }
    }
    return fields;
}
