// The B&W contact sheet: sizes, shares of the decimated map, the tiles and
// their labels, the GIF read back against a literal computation, failures.
#include "blend/blend.h"
#include "pipeline/blend_stage.h"
#include "maps/maps.h"
#include "support/recording_reporter.h"
#include "tests/common/blend_reference.h"
#include "tests/common/exposure_sets.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <random>

namespace {

constexpr int kPesos[11] = {0, 2, 8, 18, 32, 50, 68, 82, 92, 98, 100};

class ContactSheetTest : public ::testing::Test {
  protected:
    void SetUp() override { folder = dir.path() + "/"; }
    void useSet(std::vector<GflBitmap> images, double gap = 4.0) {
        set = diskSet(folder, std::move(images), gap);
        const int n = static_cast<int>(set.ImagenesTIFF.size());
        set.TablaMapa = buildTablaMapa(n);
        set.TablaMapaImagenes = n;
    }
    void writeMap(const std::vector<uint8_t>& lv) {
        levels = lv;
        QImage png(set.AnchoImagen, set.AltoImagen, QImage::Format_Grayscale8);
        for (int y = 0; y < png.height(); ++y)
            for (int x = 0; x < png.width(); ++x)
                png.scanLine(y)[x] = lv[static_cast<size_t>(y) * png.width() + x];
        ASSERT_TRUE(png.save(mapPath()));
    }
    void writeUniformMap(uint8_t level) {
        writeMap(std::vector<uint8_t>(static_cast<size_t>(set.AnchoImagen) * set.AltoImagen, level));
    }
    QString mapPath() const { return folder + "Map_000000.png"; }
    QString ref() const { return folder + "IMG_1.CR2"; }
    QStringList sheets() const { return QDir(folder).entryList({"BWTest_*.gif"}, QDir::Files); }
    QImage sheet() const { return QImage(folder + sheets().value(0)); }
    int run() { return TestImagenesBN(ref(), mapPath(), set, rep); }

    // Grey of sample (x, y) of the decimated map under weights wr, wb, as
    // written: whole positions weigh the integer channels first.
    int literalGrey(int x, int y, int wr, int wb) const {
        const int wg = 100 - wr - wb;
        const float p = set.TablaMapa[levels[static_cast<size_t>(7 * y) * set.AnchoImagen + 7 * x]];
        const int k = static_cast<int>(p);
        auto c = [&](int image, int ch) { return set.ImagenesTIFF[static_cast<size_t>(image) - 1].row(7 * y)[7 * x * 3 + ch]; };
        double v;
        if (static_cast<float>(k) == p) {
            v = (wr * c(k, 0) + wg * c(k, 1) + wb * c(k, 2)) / 100.0 * set.ExpRelativas[static_cast<size_t>(k) - 1];
        } else {
            const float f = p - k;
            double m[3];
            for (int ch = 0; ch < 3; ++ch)
                m[ch] = c(k, ch) * set.ExpRelativas[static_cast<size_t>(k) - 1] * (1 - f) +
                        c(k + 1, ch) * set.ExpRelativas[static_cast<size_t>(k)] * f;
            v = (wr * m[0] + wg * m[1] + wb * m[2]) / 100;
        }
        const double grey = std::nearbyint(std::pow(v / 65535, static_cast<double>(static_cast<float>(1 / 2.2))) * 255);
        return static_cast<int>(std::min(grey, 255.0));
    }

    QTemporaryDir dir;
    QString folder;
    ImageSet set;
    std::vector<uint8_t> levels;
    RecordingReporter rep;
};

TEST_F(ContactSheetTest, SizesFollowTheDecimatedSet) {
    useSet({uniformBitmap(3000, 2000, 100, 200, 300), uniformBitmap(3000, 2000, 400, 800, 1200)});
    writeUniformMap(0);
    ASSERT_EQ(run(), 1) << rep.log.toStdString();
    EXPECT_TRUE(rep.logLines().contains("Decimating blending map to 428x285..."));
    EXPECT_EQ(sheet().size(), QSize(4718, 3145));
}

TEST_F(ContactSheetTest, TheWholeLogAndTheShares) {
    useSet({uniformBitmap(70, 35, 100, 200, 300), uniformBitmap(70, 35, 400, 800, 1200),
            uniformBitmap(70, 35, 1600, 3200, 4800)});
    writeUniformMap(128);  // image 2 everywhere
    ASSERT_EQ(run(), 1);
    QStringList log = rep.logLines();
    for (QString& l : log) l.replace(QRegularExpression("BWTest_\\d{6}"), "BWTest_hhmmss");
    EXPECT_EQ(log, (QStringList{"Loading blending map...", "Decimating blending map to 10x5...",
                                "Decimated image contribution...", "IMG_1.tiff: 0%", "IMG_2.tiff: 100%",
                                "IMG_3.tiff: 0%", "100% genuine pixels", "", "Generating B&W contact sheet...",
                                "", "Saving B&W samples as BWTest_hhmmss.gif...", "DONE"}));
    EXPECT_EQ(rep.beeps, 1);
    ASSERT_EQ(rep.progress.size(), 66);
    EXPECT_EQ(rep.progress[0], "1%");
    EXPECT_EQ(rep.progress[32], "50%");
    EXPECT_EQ(rep.progress.back(), "100%");
}

TEST_F(ContactSheetTest, AQuarterPositionSharesAndMixes) {
    useSet({uniformBitmap(14, 14, 1000, 2000, 3000), uniformBitmap(14, 14, 4000, 6000, 20000)});
    set.TablaMapa[40] = 1.25f;
    writeUniformMap(40);
    ASSERT_EQ(run(), 1);
    EXPECT_EQ(rep.logLines().mid(3, 3), (QStringList{"IMG_1.tiff: 75%", "IMG_2.tiff: 25%", "0% genuine pixels"}));
    const QImage s = sheet();
    // Tile r = 0, b = 0: green alone, 0.75 * 2000 + 0.25 * 6000 / 4.
    const double g = 0.75 * 2000 + 0.25 * 6000 / 4.0;
    EXPECT_EQ(qRed(s.pixel(1, 1)), std::nearbyint(std::pow(g / 65535, static_cast<double>(static_cast<float>(1 / 2.2))) * 255));
    EXPECT_EQ(qRed(s.pixel(1, 1)), literalGrey(1, 1, 0, 0));
}

TEST_F(ContactSheetTest, TilesLabelsAndPixelsAgainstALiteralReading) {
    std::mt19937 rng(3);
    std::vector<GflBitmap> frames;
    for (double gain : {1.0, 4.0, 16.0}) frames.push_back(bracketFrame(350, 280, 8 * gain, static_cast<uint32_t>(rng())));
    useSet(frames);
    std::vector<uint8_t> lv(350 * 280);
    for (uint8_t& v : lv) v = static_cast<uint8_t>(rng() % 256);
    writeMap(lv);
    ASSERT_EQ(run(), 1) << rep.log.toStdString();
    const QImage s = sheet();
    const int dw = 50, dh = 40;
    ASSERT_EQ(s.size(), QSize(11 * dw + 10, 11 * dh + 10));
    // Only greys: the palette is exact.
    for (QRgb c : s.colorTable()) ASSERT_TRUE(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c));
    int drawn = 0, black = 0;
    for (int r = 0; r <= 10; ++r)
        for (int b = 0; b <= 10; ++b) {
            const int left = (dw + 1) * r, top = (dh + 1) * b;
            const int wr = kPesos[r], wb = kPesos[b];
            if (wr + wb > 100) {
                bool allBlack = true;
                for (int y = 0; y < dh; ++y)
                    for (int x = 0; x < dw; ++x) allBlack &= qRed(s.pixel(left + x, top + y)) == 0;
                black += allBlack;
                continue;
            }
            ++drawn;
            // Below the three labels the tile is the literal grey, pixel for pixel.
            for (int y = 36; y < dh; ++y)
                for (int x = 0; x < dw; ++x)
                    ASSERT_EQ(qRed(s.pixel(left + x, top + y)), literalGrey(x, y, wr, wb))
                        << "tile " << r << "," << b << " at " << x << "," << y;
            // Labels in white at their rows.
            for (int row : {0, 12, 24}) {
                int white = 0;
                for (int y = row; y < row + 12; ++y)
                    for (int x = 1; x < dw; ++x) white += qRed(s.pixel(left + x, top + y)) == 255;
                EXPECT_GT(white, 10) << "tile " << r << "," << b << " label row " << row;
            }
        }
    EXPECT_EQ(drawn, 66);
    EXPECT_EQ(black, 55);
    // The gaps stay black.
    for (int y = 0; y < s.height(); ++y) ASSERT_EQ(qRed(s.pixel(dw, y)), 0);
}

TEST_F(ContactSheetTest, ExtremeScenes) {
    // Image 1 black: a black sheet but for the labels, no failure.
    useSet({uniformBitmap(350, 350, 0, 0, 0), uniformBitmap(350, 350, 0, 0, 0)});
    writeUniformMap(255);
    ASSERT_EQ(run(), 1);
    EXPECT_EQ(qRed(sheet().pixel(20, 45)), 0);  // below the labels
    // Above full scale after the exposure factor: white, never wrapped.
    QDir(folder).remove(sheets()[0]);
    useSet({uniformBitmap(350, 350, 65535, 65535, 65535), uniformBitmap(350, 350, 65535, 65535, 65535)}, 0.25);
    writeUniformMap(0);  // image 2, four times image 1's exposure
    rep = RecordingReporter();
    ASSERT_EQ(run(), 1);
    EXPECT_EQ(qRed(sheet().pixel(20, 45)), 255);
}

TEST_F(ContactSheetTest, RefusalsAndFailures) {
    useSet({uniformBitmap(21, 14, 1, 2, 3), uniformBitmap(21, 14, 4, 5, 6)});
    // No map at all.
    EXPECT_EQ(TestImagenesBN(ref(), QString(), set, rep), -1);
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.startsWith("Unexpected error occurred in module TestImagenesBN"));
    // A map of another size.
    QImage other(20, 14, QImage::Format_Grayscale8);
    other.fill(0);
    ASSERT_TRUE(other.save(mapPath()));
    rep = RecordingReporter();
    EXPECT_EQ(run(), -1);
    EXPECT_EQ(rep.logLines(), (QStringList{"Loading blending map...", "Map dimensions mismatch", "DONE"}));
    EXPECT_EQ(rep.boxes[0].text, "Map dimensions do not match image dimensions");
    // A table built for another set.
    writeUniformMap(0);
    set.TablaMapa.clear();
    rep = RecordingReporter();
    EXPECT_EQ(run(), -1);
    EXPECT_EQ(rep.boxes[0].text, "The blending map was built for another image set");
    // Images smaller than the step: nothing to sample.
    useSet({uniformBitmap(6, 14, 1, 2, 3), uniformBitmap(6, 14, 4, 5, 6)});
    writeUniformMap(0);
    rep = RecordingReporter();
    EXPECT_EQ(run(), -1);
    EXPECT_TRUE(rep.boxes[0].text.contains("module TestImagenesBN"));
    EXPECT_TRUE(sheets().isEmpty());
}

}  // namespace
