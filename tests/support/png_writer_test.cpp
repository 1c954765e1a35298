// PNG files deflated in bands on all cores read back exactly by the system's
// PNG decoder: grey and colour, single rows and columns, many bands, every
// zlib level.
#include "support/parallel.h"
#include "support/png_writer.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <random>

namespace {

QImage picture(int w, int h, QImage::Format format, uint32_t seed) {
    std::mt19937 rng(seed);
    QImage img(w, h, format);
    for (int y = 0; y < h; ++y) {
        uchar* line = img.scanLine(y);
        const int bytes = static_cast<int>(img.bytesPerLine());
        // Flat stretches, like maps, between noisy ones.
        const bool flat = rng() % 3 == 0;
        for (int i = 0; i < bytes; ++i) line[i] = static_cast<uchar>(flat ? 40 + y % 3 : rng());
    }
    return img;
}

TEST(PngWriter, TheSystemDecoderReadsBackEveryPixel) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/p.png";
    struct Case {
        int w, h;
        QImage::Format format;
        int quality;
    };
    const Case cases[] = {{1, 1, QImage::Format_Grayscale8, 80},   {1, 900, QImage::Format_Grayscale8, 80},
                          {3000, 1, QImage::Format_RGB888, 80},    {1500, 1100, QImage::Format_Grayscale8, 80},
                          {700, 900, QImage::Format_RGB888, 100},  {333, 777, QImage::Format_RGB32, -1},
                          {200000, 3, QImage::Format_Grayscale8, 0}, {640, 480, QImage::Format_ARGB32, 50}};
    uint32_t seed = 1;
    for (int threads : {1, 3}) {
        setParallelThreads(threads);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " format " << c.format << " threads " << threads);
            const QImage in = picture(c.w, c.h, c.format, seed++);
            writePng(in, path, c.quality);
            QImageReader reader(path);
            const QImage back = reader.read();
            ASSERT_FALSE(back.isNull()) << reader.errorString().toStdString();
            ASSERT_EQ(back.size(), in.size());
            EXPECT_EQ(back.format() == QImage::Format_Grayscale8, c.format == QImage::Format_Grayscale8);
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x)
                    ASSERT_EQ(back.pixel(x, y) & 0xFFFFFF, in.pixel(x, y) & 0xFFFFFF) << x << "," << y;
        }
    }
    setParallelThreads(0);
}

TEST(PngWriter, TheSameBytesWhateverTheThreadCount) {
    QTemporaryDir dir;
    const QImage in = picture(900, 1300, QImage::Format_RGB888, 9);
    QByteArray first;
    for (int threads : {1, 2, 5}) {
        setParallelThreads(threads);
        writePng(in, dir.path() + "/t.png", 80);
        QFile f(dir.path() + "/t.png");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (first.isEmpty()) first = bytes;
        EXPECT_EQ(bytes, first) << threads;
    }
    setParallelThreads(0);
}

}  // namespace
