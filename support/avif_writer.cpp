// HDR AVIF on libavif: PQ code rows turned into YUV 4:4:4 band by band on all
// cores, one AOM encode, and a clli property added to the file where libavif
// cannot write it.
#include "support/avif_writer.h"

#include "support/errors.h"
#include "support/parallel.h"
#include "support/partial_file.h"

#include <avif/avif.h>

#include <QFile>
#include <QtEndian>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// Rows converted to YUV by one task.
constexpr int kBandRows = 16;
// Tiles of at most 2048 x 2048: a 24-megapixel image is encoded as 8 tiles,
// work for any number of cores, and the tiling never depends on them.
constexpr uint32_t kTileSide = 2048;

struct ImageFree {
    void operator()(avifImage* image) const { avifImageDestroy(image); }
};
using ImagePtr = std::unique_ptr<avifImage, ImageFree>;
struct EncoderFree {
    void operator()(avifEncoder* encoder) const { avifEncoderDestroy(encoder); }
};
using EncoderPtr = std::unique_ptr<avifEncoder, EncoderFree>;
struct Output {
    avifRWData data = AVIF_DATA_EMPTY;
    ~Output() { avifRWDataFree(&data); }
};

[[noreturn]] void fail(const char* call, avifResult result, const avifDiagnostics* diag = nullptr) {
    if (result == AVIF_RESULT_OUT_OF_MEMORY) throw std::bad_alloc();
    QString message = QStringLiteral("libavif: ") + QLatin1String(call) + QStringLiteral(": ") +
                      QString::fromUtf8(avifResultToString(result));
    if (diag && diag->error[0])
        message += QStringLiteral(" (") + QString::fromUtf8(diag->error) + QStringLiteral(")");
    throw LibraryError(message);
}

int tilesLog2(uint32_t side) {
    int log2 = 0;
    while ((side >> log2) > kTileSide && log2 < 6) ++log2;
    return log2;
}

// ---- The boxes of an AVIF file (ISO base media file format) ----

[[noreturn]] void layoutNotUnderstood(const char* what) {
    throw LibraryError(QStringLiteral("AVIF file layout not understood: ") + QLatin1String(what));
}

uint64_t readBig(const QByteArray& b, qsizetype at, int bytes) {
    if (at < 0 || at + bytes > b.size()) layoutNotUnderstood("a field lies past the end");
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
    return v;
}

void writeBig(QByteArray& b, qsizetype at, int bytes, uint64_t v) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8) b[at + i] = static_cast<char>(v & 0xFF);
}

struct Box {
    qsizetype start = 0, size = 0, body = 0;  // body: after the header
    QByteArray type;
    qsizetype end() const { return start + size; }
};

// The boxes in [begin, end); only 32-bit box sizes, as libavif writes them
// for everything but a huge mdat, which is never looked into.
std::vector<Box> boxes(const QByteArray& b, qsizetype begin, qsizetype end) {
    std::vector<Box> out;
    for (qsizetype at = begin; at < end;) {
        Box box;
        box.start = at;
        box.size = static_cast<qsizetype>(readBig(b, at, 4));
        box.type = b.mid(at + 4, 4);
        box.body = at + 8;
        if (box.size == 1) {
            box.size = static_cast<qsizetype>(readBig(b, at + 8, 8));
            box.body = at + 16;
        } else if (box.size == 0) {
            box.size = end - at;
        }
        if (box.size < box.body - at || box.end() > end) layoutNotUnderstood("a box overruns");
        out.push_back(box);
        at = box.end();
    }
    return out;
}

const Box& child(const std::vector<Box>& list, const char* type) {
    for (const Box& box : list)
        if (box.type == type) return box;
    layoutNotUnderstood(type);
}

void growBox(QByteArray& b, const Box& box, qsizetype by) {
    if (box.body - box.start != 8) layoutNotUnderstood("a box with a 64-bit size");
    writeBig(b, box.start, 4, static_cast<uint64_t>(box.size + by));
}

// Moves every file offset of iloc that points at or past `from` on by `by`.
void shiftItemOffsets(QByteArray& b, const Box& iloc, qsizetype from, qsizetype by) {
    qsizetype at = iloc.body;
    const auto version = static_cast<int>(readBig(b, at, 1));
    at += 4;
    const auto sizes = readBig(b, at, 2);
    at += 2;
    const int offsetSize = static_cast<int>(sizes >> 12),
              lengthSize = static_cast<int>((sizes >> 8) & 15),
              baseSize = static_cast<int>((sizes >> 4) & 15),
              indexSize = version >= 1 ? static_cast<int>(sizes & 15) : 0;
    const int idSize = version < 2 ? 2 : 4;
    const uint64_t items = readBig(b, at, idSize);
    at += idSize;
    for (uint64_t i = 0; i < items; ++i) {
        at += idSize;
        int method = 0;
        if (version >= 1) {
            method = static_cast<int>(readBig(b, at, 2) & 15);
            at += 2;
        }
        at += 2;  // data_reference_index
        const qsizetype baseAt = at;
        const uint64_t base = baseSize ? readBig(b, at, baseSize) : 0;
        at += baseSize;
        const uint64_t extents = readBig(b, at, 2);
        at += 2;
        // Only data in the file itself moves (not in idat or another item).
        const bool moves = method == 0;
        if (moves && base != 0 && base >= static_cast<uint64_t>(from))
            writeBig(b, baseAt, baseSize, base + static_cast<uint64_t>(by));
        for (uint64_t e = 0; e < extents; ++e) {
            at += indexSize;
            const uint64_t offset = offsetSize ? readBig(b, at, offsetSize) : 0;
            if (moves && base == 0 && offset >= static_cast<uint64_t>(from)) {
                if (offsetSize == 0) layoutNotUnderstood("item data without an offset");
                writeBig(b, at, offsetSize, offset + static_cast<uint64_t>(by));
            }
            at += offsetSize + lengthSize;
        }
    }
}

// Writes `bytes` to `path`, every failure told with the system's reason.
void writeFile(const QByteArray& bytes, const QString& path, const QString& shown) {
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    auto reason = [&shown] {
        return shown + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    };
    if (!f) throw LibraryError(reason());
    const bool written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), f) ==
                         static_cast<size_t>(bytes.size());
    QString error = written ? QString() : reason();
    if (std::fclose(f) != 0 && error.isEmpty()) error = reason();
    if (!error.isEmpty()) throw LibraryError(error);
}

}  // namespace

QByteArray withContentLightLevel(const QByteArray& avif, const ContentLightLevel& light) {
    QByteArray b = avif;
    const Box meta = child(boxes(b, 0, b.size()), "meta");
    const std::vector<Box> inMeta = boxes(b, meta.body + 4, meta.end());  // a full box
    const Box& pitm = child(inMeta, "pitm");
    const uint64_t primary = readBig(b, pitm.body + 4, readBig(b, pitm.body, 1) == 0 ? 2 : 4);
    const Box& iprp = child(inMeta, "iprp");
    const std::vector<Box> properties = boxes(b, iprp.body, iprp.end());
    const Box& ipco = child(properties, "ipco");
    const Box& ipma = child(properties, "ipma");
    const auto index = static_cast<uint64_t>(boxes(b, ipco.body, ipco.end()).size()) + 1;

    // The primary item's entry in ipma: its associations end where the new one goes.
    const auto ipmaVersion = readBig(b, ipma.body, 1);
    const bool wideIndex = (readBig(b, ipma.body + 1, 3) & 1) != 0;
    const int idSize = ipmaVersion < 1 ? 2 : 4;
    qsizetype at = ipma.body + 4;
    const uint64_t entries = readBig(b, at, 4);
    at += 4;
    qsizetype insertAt = -1, countAt = -1;
    for (uint64_t e = 0; e < entries; ++e) {
        const uint64_t item = readBig(b, at, idSize);
        at += idSize;
        const qsizetype countPosition = at;
        const auto count = static_cast<qsizetype>(readBig(b, at, 1));
        at += 1 + count * (wideIndex ? 2 : 1);
        if (item == primary) {
            insertAt = at;
            countAt = countPosition;
        }
    }
    if (insertAt < 0 || readBig(b, countAt, 1) == 255 || index > (wideIndex ? 0x7FFFu : 0x7Fu))
        layoutNotUnderstood("the primary item's properties");

    QByteArray clli;
    const char head[8] = {0, 0, 0, 12, 'c', 'l', 'l', 'i'};
    clli.append(head, 8);
    clli.append(2 + 2, '\0');
    writeBig(clli, 8, 2, light.maxCll);
    writeBig(clli, 10, 2, light.maxFall);
    QByteArray association(wideIndex ? 2 : 1, '\0');
    writeBig(association, 0, static_cast<int>(association.size()), index);
    const qsizetype grown = clli.size() + association.size();

    // Sizes and offsets first, where they lie now; then the insertions, the
    // later one first so that the earlier position still holds.
    shiftItemOffsets(b, child(inMeta, "iloc"), meta.end(), grown);
    growBox(b, meta, grown);
    growBox(b, iprp, grown);
    growBox(b, ipco, clli.size());
    growBox(b, ipma, association.size());
    writeBig(b, countAt, 1, readBig(b, countAt, 1) + 1);
    if (insertAt > ipco.end()) {
        b.insert(insertAt, association);
        b.insert(ipco.end(), clli);
    } else {
        b.insert(ipco.end(), clli);
        b.insert(insertAt, association);
    }
    return b;
}

void writeAvifPq(const RgbRows& codes, const QString& path, const AvifPqOptions& options,
                 const std::function<ContentLightLevel()>& light) {
    if (codes.empty()) throw LibraryError(QStringLiteral("Nothing to save: the image is empty"));
    const auto width = static_cast<uint32_t>(codes.width),
               height = static_cast<uint32_t>(codes.height);
    const auto depth = static_cast<uint32_t>(options.depth);
    QByteArray file;
    {
        ImagePtr image(avifImageCreate(width, height, depth, AVIF_PIXEL_FORMAT_YUV444));
        if (!image) throw std::bad_alloc();
        image->colorPrimaries = AVIF_COLOR_PRIMARIES_BT2020;
        image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SMPTE2084;
        image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT2020_NCL;
        image->yuvRange = AVIF_RANGE_FULL;
        const avifResult allocated = avifImageAllocatePlanes(image.get(), AVIF_PLANES_YUV);
        if (allocated != AVIF_RESULT_OK) fail("avifImageAllocatePlanes", allocated);

        // 4:4:4 has no chroma shared between rows: each band of rows is
        // converted on its own, into its part of the planes.
        parallelRows(codes.height, kBandRows, [&](const RowBand& band) {
            const auto rows = static_cast<uint32_t>(band.end - band.begin);
            std::vector<uint16_t> pixels(static_cast<size_t>(rows) * width * 3);
            codes.fill(band.begin, band.end - band.begin, pixels.data());
            ImagePtr view(avifImageCreateEmpty());
            if (!view) throw std::bad_alloc();
            const avifCropRect rect{0, static_cast<uint32_t>(band.begin), width, rows};
            const avifResult viewed = avifImageSetViewRect(view.get(), image.get(), &rect);
            if (viewed != AVIF_RESULT_OK) fail("avifImageSetViewRect", viewed);
            avifRGBImage rgb;
            avifRGBImageSetDefaults(&rgb, view.get());
            rgb.format = AVIF_RGB_FORMAT_RGB;
            rgb.depth = depth;
            rgb.pixels = reinterpret_cast<uint8_t*>(pixels.data());
            rgb.rowBytes = width * 3 * sizeof(uint16_t);
            const avifResult converted = avifImageRGBToYUV(view.get(), &rgb);
            // libavif 0.11 marks the planes of the image it converts into as
            // its own (they are the whole image's here): the view must not
            // free them.
            view->imageOwnsYUVPlanes = AVIF_FALSE;
            if (converted != AVIF_RESULT_OK) fail("avifImageRGBToYUV", converted);
        });
        const ContentLightLevel levels = light ? light() : ContentLightLevel{};
#if AVIF_VERSION >= 1000000
        image->clli.maxCLL = levels.maxCll;
        image->clli.maxPALL = levels.maxFall;
#endif
        if (!options.exif.isEmpty()) {
            const auto* exif = reinterpret_cast<const uint8_t*>(options.exif.constData());
            const auto size = static_cast<size_t>(options.exif.size());
#if AVIF_VERSION >= 1000000
            const avifResult set = avifImageSetMetadataExif(image.get(), exif, size);
            if (set != AVIF_RESULT_OK) fail("avifImageSetMetadataExif", set);
#else
            avifImageSetMetadataExif(image.get(), exif, size);  // gives no result before 1.0
#endif
        }

        EncoderPtr encoder(avifEncoderCreate());
        if (!encoder) throw std::bad_alloc();
        encoder->codecChoice = AVIF_CODEC_CHOICE_AOM;
        encoder->maxThreads = parallelThreads();
        encoder->speed = options.speed;
        encoder->minQuantizer = encoder->maxQuantizer = options.quantizer;
        encoder->tileColsLog2 = tilesLog2(width);
        encoder->tileRowsLog2 = tilesLog2(height);
        Output output;
        const avifResult encoded = avifEncoderWrite(encoder.get(), image.get(), &output.data);
        if (encoded != AVIF_RESULT_OK) fail("avifEncoderWrite", encoded, &encoder->diag);
        file = QByteArray(reinterpret_cast<const char*>(output.data.data),
                          static_cast<qsizetype>(output.data.size));
#if AVIF_VERSION < 1000000
        file = withContentLightLevel(file, levels);
#endif
    }
    PartialFile partial(path);
    writeFile(file, partial.path(), path);
    const QString renameError = partial.commit();
    if (!renameError.isEmpty()) throw LibraryError(renameError);
}
