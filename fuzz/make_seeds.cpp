// Writes the fuzzers' seed corpora from the tests' synthetic images: TIFFs in
// every layout the reader takes, pictures as the program writes them, and
// blending maps, grey and RGB. Usage: orrindale_fuzz_seeds FOLDER
#include "support/gfl_bitmap.h"
#include "support/gif_writer.h"
#include "support/png_writer.h"
#include "support/tiff_io.h"
#include "support/tiff_tags.h"
#include "tests/common/test_images.h"

#include <tiffio.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

// Small on purpose: mutations of a small file reach every field faster.
constexpr int kWidth = 24;
constexpr int kHeight = 16;

// A smooth picture with a few hard edges, like a scene or a map.
GflBitmap scene(int width, int height) {
    return makeBitmap(width, height, [](int x, int y, int c) {
        const double v = (x * 2731.0 + y * 3907.0 + c * 9000.0) + ((x / 5 + y / 3) % 2) * 20000.0;
        return static_cast<double>(static_cast<long>(v) % 65536);
    });
}

void tiffSeeds(const QString& folder) {
    struct Layout {
        const char* name;
        TiffLayout layout;
    };
    TiffLayout jpeg{8, 3, COMPRESSION_JPEG};
    jpeg.rowsPerStrip = 8;
    TiffLayout palette8{8, 1, COMPRESSION_NONE};
    palette8.palette = true;
    TiffLayout palette8lzw{8, 1, COMPRESSION_LZW};
    palette8lzw.palette = true;
    const Layout layouts[] = {
        {"rgb16_none", {16, 3, COMPRESSION_NONE}},
        {"rgb16_lzw", {16, 3, COMPRESSION_LZW}},
        {"rgb16_deflate", {16, 3, COMPRESSION_ADOBE_DEFLATE}},
        {"rgb16_packbits", {16, 3, COMPRESSION_PACKBITS}},
        {"rgb16_lzw_tiled", {16, 3, COMPRESSION_LZW, true}},
        {"rgb16_separate", {16, 3, COMPRESSION_NONE, false, true}},
        {"rgb16_deflate_tiled_separate", {16, 3, COMPRESSION_ADOBE_DEFLATE, true, true}},
        {"rgba16_lzw", {16, 4, COMPRESSION_LZW}},
        {"rgb8_none", {8, 3, COMPRESSION_NONE}},
        {"rgb8_packbits_tiled", {8, 3, COMPRESSION_PACKBITS, true}},
        {"rgba8_deflate_separate", {8, 4, COMPRESSION_ADOBE_DEFLATE, false, true}},
        {"grey16_lzw", {16, 1, COMPRESSION_LZW}},
        {"grey8_none", {8, 1, COMPRESSION_NONE}},
        {"grey8_deflate_tiled", {8, 1, COMPRESSION_ADOBE_DEFLATE, true}},
        {"greyalpha16_packbits", {16, 2, COMPRESSION_PACKBITS}},
        {"grey8_miniswhite", {8, 1, COMPRESSION_NONE, false, false, false, true}},
        {"float32", {32, 3, COMPRESSION_NONE, false, false, true}},
        {"bilevel", {1, 1, COMPRESSION_NONE}},
        {"palette8", palette8},
        {"palette8_lzw", palette8lzw},
        {"rgb8_jpeg", jpeg},
    };
    const GflBitmap image = scene(kWidth, kHeight);
    for (const Layout& l : layouts)
        writeTestTiff(folder + QString::fromLatin1(l.name) + QStringLiteral(".tif"), image,
                      l.layout);
    // As dcraw writes them, whole and cut short while it is still writing.
    const QByteArray dcraw = headerFirstTiff(randomBitmap(kWidth, kHeight, 1));
    writeBytes(folder + QStringLiteral("dcraw.tif"), dcraw);
    writeBytes(folder + QStringLiteral("dcraw_cut.tif"), dcraw.left(dcraw.size() / 2));
    // As the output stage writes them: LZW with predictor, with and without tags.
    writeTiffRgb16(image, folder + QStringLiteral("output_plain.tif"));
    TiffTags tags;
    tags.make = QStringLiteral("Maker");
    tags.model = QStringLiteral("Model");
    tags.dateTime = QStringLiteral("2024:05:01 10:20:30");
    tags.description = QStringLiteral("Blend of 3 frames");
    tags.iccProfile = QByteArray(132, '\1');
    tags.exif.exposureTime = 1.0 / 250;
    tags.exif.fNumber = 8;
    tags.exif.iso = 200;
    tags.exif.focalLength = 35;
    writeTiffRgb16(image, folder + QStringLiteral("output_tagged.tif"), tags);
}

QImage greyMap(int width, int height) {
    QImage map(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // Three images: 255, 128 and 0, with progressive levels between.
            const int k = x < width / 3 ? 255 : x < 2 * width / 3 ? 128 : 0;
            map.scanLine(y)[x] = static_cast<uchar>(x % 8 == 0 ? (k + y * 5) % 256 : k);
        }
    return map;
}

// The progressive map as the blend writes it: genuine pixels red.
QImage progressiveMap(const QImage& grey) {
    QImage rgb(grey.size(), QImage::Format_RGB888);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) {
            const int g = grey.constScanLine(y)[x];
            rgb.setPixel(x, y, g % 2 ? qRgb(g, g, g) : qRgb(255, 0, 0));
        }
    return rgb;
}

void pictureSeeds(const QString& folder) {
    const QImage grey = greyMap(kWidth, kHeight);
    const QImage colour = progressiveMap(grey);
    writePng(grey, folder + QStringLiteral("grey.png"));
    writePng(colour, folder + QStringLiteral("rgb.png"));
    writePng(colour.convertToFormat(QImage::Format_ARGB32), folder + QStringLiteral("argb.png"));
    writePng(colour.convertToFormat(QImage::Format_Indexed8),
             folder + QStringLiteral("indexed.png"));
    writePng(colour.convertToFormat(QImage::Format_RGBX64), folder + QStringLiteral("rgb16.png"));
    writePng(grey.convertToFormat(QImage::Format_Grayscale16),
             folder + QStringLiteral("grey16.png"));
    writePng(grey.convertToFormat(QImage::Format_Mono), folder + QStringLiteral("mono.png"));
    writeGif(grey, folder + QStringLiteral("grey.gif"));
    writeGif(colour.convertToFormat(QImage::Format_RGB32), folder + QStringLiteral("rgb.gif"));
    const GflBitmap image = scene(kWidth, kHeight);
    writeTestTiff(folder + QStringLiteral("rgb16.tif"), image, {16, 3, COMPRESSION_LZW});
    writeTestTiff(folder + QStringLiteral("grey8.tif"), image, {8, 1, COMPRESSION_NONE});
}

void mapSeeds(const QString& folder) {
    const QImage grey = greyMap(kWidth, kHeight);
    const QImage colour = progressiveMap(grey);
    writePng(grey, folder + QStringLiteral("Map_grey.png"), kPngQualityFast);
    writePng(colour, folder + QStringLiteral("Map_rgb_PB.png"), kPngQualityFast);
    writePng(colour.convertToFormat(QImage::Format_Indexed8),
             folder + QStringLiteral("Map_indexed.png"));
    writePng(grey.convertToFormat(QImage::Format_Grayscale16),
             folder + QStringLiteral("Map_grey16.png"));
    writeGif(grey, folder + QStringLiteral("Map_grey.gif"));
    // TIFF maps: 8-bit grey and 16-bit RGB, as another program may save one.
    GflBitmap wide;
    wide.width = kWidth;
    wide.height = kHeight;
    wide.pixels.resize(wide.sampleCount());
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                wide.row(y)[x * 3 + c] = static_cast<uint16_t>(grey.constScanLine(y)[x] * 257);
    writeTestTiff(folder + QStringLiteral("Map_grey8.tif"), wide, {8, 1, COMPRESSION_LZW});
    writeTestTiff(folder + QStringLiteral("Map_rgb16.tif"), wide, {16, 3, COMPRESSION_NONE});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const QString root = QDir(QString::fromLocal8Bit(argv[1])).absolutePath() + QStringLiteral("/");
    try {
        for (const char* sub : {"tiff", "picture", "map"})
            if (!QDir().mkpath(root + QString::fromLatin1(sub))) throw std::runtime_error(sub);
        initTiffLibrary();
        tiffSeeds(root + QStringLiteral("tiff/"));
        pictureSeeds(root + QStringLiteral("picture/"));
        mapSeeds(root + QStringLiteral("map/"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
