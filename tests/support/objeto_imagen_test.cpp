// Picture object: PNG and GIF round trips, resampling against a slow
// reference, gamma, and the drawing primitives.
#include "support/errors.h"
#include "support/objeto_imagen.h"
#include "support/parallel.h"
#include "tests/common/test_images.h"

#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

namespace {

constexpr uint32_t kWhite = 16777215;

ObjetoImagen randomPicture(int w, int h, int colours, uint32_t seed) {
    ObjetoImagen o;
    o.Crear(w, h, kWhite);
    std::mt19937 rng(seed);
    std::vector<uint32_t> palette;
    for (int i = 0; i < colours; ++i) palette.push_back(rng() & 0xFFFFFF);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            o.ColorLinea(palette[rng() % palette.size()]);
            o.Punto(x, y);
        }
    return o;
}

TEST(ObjetoImagenTest, PngAndGifRoundTripsKeepEveryPixel) {
    QTemporaryDir dir;
    for (int format : {kFormatoPng, kFormatoGif}) {
        SCOPED_TRACE(format);
        ObjetoImagen o = randomPicture(61, 43, 200, 1);
        const QString file = dir.filePath(format == kFormatoGif ? "p.gif" : "p.png");
        o.FormatoGuardado(format);
        o.Guardar(file);
        ObjetoImagen back;
        back.Cargar(file);
        ASSERT_EQ(back.Ancho(), 61);
        ASSERT_EQ(back.Alto(), 43);
        for (int y = 0; y < 43; ++y)
            for (int x = 0; x < 61; ++x) ASSERT_EQ(back.ColorEn(x, y), o.ColorEn(x, y));
    }
    // giflib alone would create the file with mode 0600; ours follow the umask.
    const mode_t old = umask(022);
    ObjetoImagen o = randomPicture(4, 4, 3, 2);
    o.FormatoGuardado(kFormatoGif);
    o.Guardar(dir.filePath("perm.gif"));
    umask(old);
    EXPECT_EQ(QFileInfo(dir.filePath("perm.gif")).permissions() & QFile::ReadOther,
              QFile::ReadOther);
}

TEST(ObjetoImagenTest, GifWithManyColoursIsQuantisedNotRefused) {
    QTemporaryDir dir;
    ObjetoImagen o = randomPicture(64, 64, 1000, 3);
    o.FormatoGuardado(kFormatoGif);
    o.Guardar(dir.filePath("many.gif"));
    ObjetoImagen back;
    back.Cargar(dir.filePath("many.gif"));
    EXPECT_EQ(back.Ancho(), 64);
}

TEST(ObjetoImagenTest, GreyPicturesAreSavedAsGreyPng) {
    QTemporaryDir dir;
    ObjetoImagen o;
    o.Crear(10, 3, packColor(7, 7, 7));
    o.ColorLinea(packColor(200, 200, 200));
    o.Punto(4, 1);
    o.Guardar(dir.filePath("map.png"));
    QImageReader reader(dir.filePath("map.png"));
    EXPECT_EQ(reader.imageFormat(), QImage::Format_Grayscale8);
    ObjetoImagen back;
    back.Cargar(dir.filePath("map.png"));
    EXPECT_EQ(back.ColorEn(4, 1) & 255, 200u);
    EXPECT_EQ(back.ColorEn(0, 0), packColor(7, 7, 7));
}

TEST(ObjetoImagenTest, SavingOrLoadingBadFilesThrows) {
    QTemporaryDir dir;
    ObjetoImagen o = randomPicture(4, 4, 3, 4);
    EXPECT_THROW(o.Guardar(dir.filePath("no/such/dir/x.png")), RunError);
    o.FormatoGuardado(kFormatoGif);
    EXPECT_THROW(o.Guardar(dir.filePath("no/such/dir/x.gif")), RunError);
    writeBytes(dir.filePath("fake.png"), "not a png at all");
    ObjetoImagen fake;
    EXPECT_THROW(fake.Cargar(dir.filePath("fake.png")), RunError);
    EXPECT_THROW(fake.Cargar(dir.filePath("absent.png")), RunError);
    EXPECT_THROW(o.FormatoGuardado(7), RunError);
}

// Slow, obviously correct area average: every source pixel weighs by the
// area its square shares with the output pixel's footprint.
double referenceAverage(const GflBitmap& src, int w, int h, int ox, int oy, int c) {
    const double sx = static_cast<double>(src.width) / w, sy = static_cast<double>(src.height) / h;
    const double x0 = ox * sx, x1 = (ox + 1) * sx, y0 = oy * sy, y1 = (oy + 1) * sy;
    double sum = 0, area = 0;
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x) {
            const double ow = std::max(0.0, std::min<double>(x1, x + 1) - std::max<double>(x0, x));
            const double oh = std::max(0.0, std::min<double>(y1, y + 1) - std::max<double>(y0, y));
            sum += ow * oh * src.row(y)[x * 3 + c];
            area += ow * oh;
        }
    return sum / area;
}

TEST(ObjetoImagenTest, AreaAverageMatchesTheReference) {
    const GflBitmap src = randomBitmap(37, 23, 5);
    for (auto [w, h] : {std::pair{10, 7}, {37, 23}, {5, 23}, {18, 11}}) {
        const GflBitmap out = resizeAreaAverage(src, w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(out.row(y)[x * 3 + c], referenceAverage(src, w, h, x, y, c), 0.5001)
                        << w << "x" << h << " at " << x << "," << y;
    }
    // Integer ratios have exact footprints: compare exactly.
    const GflBitmap exact = resizeAreaAverage(src, 37, 23);
    EXPECT_EQ(exact.pixels, src.pixels);
    const GflBitmap flat = makeBitmap(40, 20, [](int, int, int c) { return 1000.0 * (c + 1); });
    const GflBitmap small = resizeAreaAverage(flat, 7, 3);
    for (uint16_t v : small.pixels) EXPECT_TRUE(v == 1000 || v == 2000 || v == 3000);
}

TEST(ObjetoImagenTest, ResizeIsIndependentOfThreads) {
    const GflBitmap src = randomBitmap(301, 203, 6);
    setParallelThreads(1);
    const GflBitmap one = resizeAreaAverage(src, 97, 61);
    setParallelThreads(3);
    const GflBitmap three = resizeAreaAverage(src, 97, 61);
    setParallelThreads(0);
    EXPECT_EQ(one.pixels, three.pixels);
}

TEST(ObjetoImagenTest, SixteenBitTiffIsResizedInLinearLightThenGammaCorrected) {
    QTemporaryDir dir;
    // Columns alternate 0 and 65535: the linear mean is half scale, which the
    // display gamma 2.2 shows as 186, not the 128 of averaging after gamma.
    const GflBitmap stripes =
        makeBitmap(8, 4, [](int x, int, int) { return x % 2 ? 65535.0 : 0.0; });
    writeTestTiff(dir.filePath("s.tiff"), stripes, {16, 3, 1});
    ObjetoImagen o;
    o.Cargar(dir.filePath("s.tiff"));
    EXPECT_EQ(o.Ancho(), 8);
    o.Redimensionar(4, 2);
    o.CorregirGamma(2.2);
    const int expected = static_cast<int>(std::lround(255 * std::pow(32768 / 65535.0, 1 / 2.2)));
    EXPECT_EQ(o.ColorEn(1, 1), packColor(expected, expected, expected));
}

TEST(ObjetoImagenTest, DrawingPrimitivesHitTheRightPixels) {
    const uint32_t red = packColor(255, 20, 20);
    auto count = [](ObjetoImagen& o, uint32_t colour) {
        int n = 0;
        for (int y = 0; y < o.Alto(); ++y)
            for (int x = 0; x < o.Ancho(); ++x) n += o.ColorEn(x, y) == colour;
        return n;
    };
    ObjetoImagen o;
    o.Crear(20, 20, kWhite);
    o.ColorLinea(red);
    o.Linea(2, 3, 2, 9);  // both end points included
    EXPECT_EQ(count(o, red), 7);
    EXPECT_EQ(o.ColorEn(2, 9), red);

    o.Crear(20, 20, kWhite);
    o.Rectangulo(5, 5, 1, 1);  // a one-pixel rectangle is one pixel
    EXPECT_EQ(count(o, red), 1);
    o.Crear(20, 20, kWhite);
    o.Rectangulo(2, 2, 4, 3);
    EXPECT_EQ(count(o, red), 10);  // outline of 4 x 3
    EXPECT_EQ(o.ColorEn(5, 4), red);
    EXPECT_EQ(o.ColorEn(6, 4), kWhite);

    o.Crear(20, 20, kWhite);
    o.Circulo(10, 10, 0);
    EXPECT_EQ(count(o, red), 1);
    o.Crear(20, 20, kWhite);
    o.Circulo(10, 10, 5);
    EXPECT_EQ(o.ColorEn(15, 10), red);
    EXPECT_EQ(o.ColorEn(10, 5), red);
    EXPECT_EQ(o.ColorEn(10, 10), kWhite);

    o.Crear(20, 20, kWhite);
    o.Linea(-5, 3, 100, 3);  // clipped, no crash
    o.Circulo(0, 0, 30);
    o.ColorRelleno(packColor(0, 0, 255));
    o.RectanguloRelleno(18, 18, 10, 10);
    EXPECT_EQ(count(o, packColor(0, 0, 255)), 4);
    EXPECT_EQ(count(o, red), 20);
}

TEST(ObjetoImagenTest, TextStartsAtItsTopLeftCornerWithoutAntialiasing) {
    ObjetoImagen o;
    o.Crear(100, 40, kWhite);
    o.Texto("+8EV", 10, 5, packColor(255, 0, 0));
    int minX = 100, minY = 40, inked = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 100; ++x) {
            const uint32_t c = o.ColorEn(x, y);
            if (c == kWhite) continue;
            EXPECT_EQ(c, packColor(255, 0, 0));  // no blended edge colours
            minX = std::min(minX, x);
            minY = std::min(minY, y);
            ++inked;
        }
    EXPECT_GT(inked, 10);
    EXPECT_GE(minX, 10);
    EXPECT_LE(minX, 13);
    EXPECT_GE(minY, 5);
    EXPECT_LE(minY, 10);
}

TEST(ObjetoImagenTest, CopiaIsIndependent) {
    ObjetoImagen o;
    o.Crear(3, 3, kWhite);
    ObjetoImagen c = o.Copia();
    c.ColorLinea(0);
    c.Punto(1, 1);
    EXPECT_EQ(o.ColorEn(1, 1), kWhite);
    EXPECT_EQ(c.ColorEn(1, 1), 0u);
}

TEST(ParallelTest, BandsAreFixedAndFailuresPropagate) {
    EXPECT_EQ(rowBandCount(100, 16), 7);
    EXPECT_EQ(rowBandCount(0, 16), 0);
    for (int threads : {1, 2, 5}) {
        setParallelThreads(threads);
        std::vector<int> covered(100, 0);
        std::vector<int> bandOf(100, -1);
        parallelRows(100, 16, [&](const RowBand& b) {
            for (int y = b.begin; y < b.end; ++y) {
                ++covered[y];
                bandOf[y] = b.index;
            }
        });
        for (int y = 0; y < 100; ++y) {
            EXPECT_EQ(covered[y], 1);
            EXPECT_EQ(bandOf[y], y / 16);
        }
        EXPECT_THROW(parallelRows(100, 10,
                                  [](const RowBand& b) {
                                      if (b.index == 3) throw std::runtime_error("x");
                                  }),
                     std::runtime_error);
    }
    setParallelThreads(0);
}

}  // namespace
