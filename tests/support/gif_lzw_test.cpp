// GIF files coded in runs on all cores read back, pixel for pixel, by giflib's
// own decoder and by Qt's: noise that fills the code table, flat areas, every
// palette size, several runs.
#include "support/gif_writer.h"
#include "support/parallel.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <random>

namespace {

// Decodes with giflib: the colour indexes' grey levels of the first image.
std::vector<uint8_t> decodeWithGiflib(const QString& path, int& width, int& height) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(QFile::encodeName(path).constData(), &error);
    EXPECT_NE(gif, nullptr);
    if (!gif) return {};
    EXPECT_EQ(DGifSlurp(gif), GIF_OK);
    std::vector<uint8_t> out;
    width = gif->SWidth;
    height = gif->SHeight;
    const ColorMapObject* map = gif->SColorMap;
    const SavedImage& image = gif->SavedImages[0];
    for (int i = 0; i < width * height; ++i) out.push_back(map->Colors[image.RasterBits[i]].Red);
    DGifCloseFile(gif, &error);
    return out;
}

QImage greyPicture(int w, int h, int levels, double flat, uint32_t seed) {
    std::mt19937 rng(seed);
    QImage img(w, h, QImage::Format_Grayscale8);
    int value = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (std::uniform_real_distribution<double>(0, 1)(rng) >= flat)
                value = static_cast<int>(rng() % static_cast<unsigned>(levels)) * (255 / std::max(1, levels - 1));
            img.scanLine(y)[x] = static_cast<uchar>(value);
        }
    return img;
}

TEST(GifCoding, EveryDecoderReadsBackEveryPixel) {
    QTemporaryDir dir;
    struct Case {
        int w, h, levels;
        double flat;
    };
    const Case cases[] = {{1, 1, 1, 0},       {7, 3, 2, 0},        {64, 64, 4, 0.5},
                          {300, 200, 256, 0}, {1500, 900, 256, 0}, {2100, 1100, 7, 0.97},
                          {1024, 2049, 2, 0.2}, {4000, 600, 256, 0.999}};
    uint32_t seed = 1;
    for (int threads : {1, 3}) {
        setParallelThreads(threads);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " levels " << c.levels << " threads " << threads);
            const QImage picture = greyPicture(c.w, c.h, c.levels, c.flat, seed++);
            const QString path = dir.path() + QStringLiteral("/t.gif");
            writeGif(picture, path);
            int w = 0, h = 0;
            const std::vector<uint8_t> decoded = decodeWithGiflib(path, w, h);
            ASSERT_EQ(w, c.w);
            ASSERT_EQ(h, c.h);
            const QImage qt(path);
            ASSERT_EQ(qt.size(), picture.size());
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) {
                    ASSERT_EQ(decoded[static_cast<size_t>(y) * c.w + x], picture.constScanLine(y)[x]) << x << "," << y;
                    ASSERT_EQ(qRed(qt.pixel(x, y)), picture.constScanLine(y)[x]) << x << "," << y;
                }
        }
    }
    setParallelThreads(0);
}

TEST(GifCoding, ColourPicturesKeepTheirExactPalette) {
    QTemporaryDir dir;
    QImage img(700, 1700, QImage::Format_RGB32);
    std::mt19937 rng(5);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qRgb(static_cast<int>(rng() % 8) * 30, 0, static_cast<int>(rng() % 16) * 15));
    const QString path = dir.path() + QStringLiteral("/c.gif");
    writeGif(img, path);
    const QImage back(path);
    ASSERT_EQ(back.size(), img.size());
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) ASSERT_EQ(back.pixel(x, y) & 0xFFFFFF, img.pixel(x, y) & 0xFFFFFF);
}

}  // namespace
