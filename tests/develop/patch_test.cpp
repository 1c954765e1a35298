// Preview geometry, the patch outline and the patch white balance.
#include "develop/patch.h"
#include "support/recording_reporter.h"
#include "tests/common/test_images.h"

#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(PreviewGeometryTest, FitsThePictureIntoTheBox) {
    EXPECT_EQ(tamanoMostrado(588, 390, 3000, 2000), QSize(585, 390));  // height-limited
    EXPECT_EQ(tamanoMostrado(588, 390, 2000, 3000), QSize(260, 390));
    EXPECT_EQ(tamanoMostrado(588, 390, 6000, 2000), QSize(588, 196));  // width-limited
    EXPECT_EQ(tamanoMostrado(400, 200, 800, 400), QSize(400, 200));    // equal ratios
}

TEST(PreviewGeometryTest, PointerFractionsAndReadOut) {
    PatchGeometry g;
    g.AnchoMostrado = 585;
    g.AltoMostrado = 390;
    EXPECT_EQ(CorrectX(-3, g), 0.0f);
    EXPECT_EQ(CorrectX(0, g), 0.0f);
    EXPECT_EQ(CorrectX(585, g), 1.0f);
    EXPECT_EQ(CorrectX(587, g), 1.0f);  // right of the picture, still in the box
    EXPECT_FLOAT_EQ(CorrectY(195, g), 0.5f);
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(lecturaCoordenada(0.5), "50");
    EXPECT_EQ(lecturaCoordenada(0.1234f), "12.3");
    EXPECT_EQ(lecturaCoordenada(1.0), "100");
    EXPECT_EQ(lecturaCoordenada(0.00125), "0.1");  // 1.25 -> 1, halves to even
}

TEST(PatchOutlineTest, RectangleAndCircle) {
    PatchGeometry g;
    g.AnchoMostrado = 100;
    g.AltoMostrado = 50;
    g.PatchX0 = g.PatchX1 = 0.3;
    g.PatchY0 = g.PatchY1 = 0.5;
    PatchOutline o = contornoParche(g, true);  // press and release without moving
    EXPECT_EQ(o.width, 1);
    EXPECT_EQ(o.height, 1);
    EXPECT_EQ(o.left, 30);
    EXPECT_EQ(o.top, 25);
    EXPECT_EQ(contornoParche(g, false).radius, 0);

    g.PatchX0 = 0.5;
    g.PatchX1 = 1.0;  // ends exactly on the right edge: no extra pixel
    g.PatchY1 = 1.0;
    o = contornoParche(g, true);
    EXPECT_EQ(o.width, 50);
    EXPECT_EQ(o.height, 25);
    std::swap(g.PatchX0, g.PatchX1);  // starts on the edge, ends further left
    std::swap(g.PatchY0, g.PatchY1);
    o = contornoParche(g, true);
    EXPECT_EQ(o.width, 51);
    EXPECT_EQ(o.height, 26);
    EXPECT_EQ(o.cx, 75);

    g.PatchX0 = 0.5;
    g.PatchY0 = 0.5;
    g.PatchX1 = 0.8;
    g.PatchY1 = 0.9;
    o = contornoParche(g, false);
    EXPECT_EQ(o.cx, 50);
    EXPECT_EQ(o.cy, 25);
    EXPECT_EQ(o.radius, 36);  // sqrt(20^2 + 30^2) = 36.06
}

TEST(PatchOutlineTest, TogglingTwiceGivesTheFirstPointBack) {
    PatchGeometry g;
    g.PatchX0 = 0.2;
    g.PatchY0 = 0.7;
    g.PatchX1 = 0.6;
    g.PatchY1 = 0.1;
    alternarForma(g, true);
    EXPECT_DOUBLE_EQ(g.PatchX0, 0.4);
    EXPECT_DOUBLE_EQ(g.PatchY0, 0.4);
    alternarForma(g, false);
    EXPECT_DOUBLE_EQ(g.PatchX0, 0.2);
    EXPECT_DOUBLE_EQ(g.PatchY0, 0.7);
    g.PatchX0 = 0.1;
    g.PatchX1 = 0.9;  // a circle whose opposite corner lies outside stays unclamped
    alternarForma(g, false);
    EXPECT_DOUBLE_EQ(g.PatchX0, -0.7);
}

class PatchWBTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    // A 20 x 10 neutral development: grey everywhere, the given colour in the
    // block x 4..8, y 2..3 (5 x 2 = 10 pixels).
    void write(uint16_t r, uint16_t g, uint16_t b) {
        const GflBitmap img = makeBitmap(20, 10, [&](int x, int y, int c) -> double {
            if (x >= 4 && x <= 8 && y >= 2 && y <= 3) return c == 0 ? r : c == 1 ? g : b;
            return 30000;
        });
        writeBytes(dir.filePath("IMG_1.tiff"), headerFirstTiff(img));
    }
    PatchGeometry block() const {
        PatchGeometry g;  // columns 4..8, rows 2..3 of a 20 x 10 image
        g.PatchX0 = 0.2;
        g.PatchX1 = 0.4;
        g.PatchY0 = 0.2;
        g.PatchY1 = 0.3;
        return g;
    }
    QString ruta() const { return dir.filePath("IMG_1.CR2"); }
    QTemporaryDir dir;
    RecordingReporter rep;
    std::array<QString, 3> wb{"7", "7", "7"};
};

TEST_F(PatchWBTest, MultipliersMakeThePatchNeutral) {
    write(100, 200, 150);  // sums 1000, 2000, 1500
    ASSERT_EQ(CalcularWBPatch(ruta(), block(), true, wb, rep), 1);
    EXPECT_EQ(wb[0], "2");
    EXPECT_EQ(wb[1], "1");
    EXPECT_EQ(wb[2], "1.333");
    EXPECT_EQ(rep.logLines(), (QStringList{"Calculating WB in patch...", "DONE"}));
    EXPECT_EQ(rep.pauses, std::vector<int>{200});
}

TEST_F(PatchWBTest, ClippingThresholdDiffersBetweenRectangleAndCircle) {
    write(58982, 20000, 20000);
    PatchGeometry g = block();
    EXPECT_EQ(CalcularWBPatch(ruta(), g, true, wb, rep), 1);  // at most 58982 counts
    // A circle of squared radius 1 at (6, 2.5): (6,2), (6,3), (5,2)... all in the block.
    g.PatchX0 = g.PatchX1 = 0.3;
    g.PatchY0 = g.PatchY1 = 0.25;
    rep = RecordingReporter();
    wb = {"7", "7", "7"};
    EXPECT_EQ(CalcularWBPatch(ruta(), g, false, wb, rep), -1);  // must be below 58982
    EXPECT_EQ(wb[0], "7");
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_EQ(rep.boxes[0].text,
              "Impossible to WB patch, some channel is very low and/or insufficient sample");
    EXPECT_EQ(rep.logLines().mid(1), (QStringList{"Impossible to WB patch", "DONE"}));
}

TEST_F(PatchWBTest, ClickWithoutDragReadsOnePixelAndCirclesStayInside) {
    const GflBitmap img = makeBitmap(20, 10, [](int x, int y, int c) -> double {
        return 1000 + 100 * x + 10 * y + c;
    });
    writeBytes(dir.filePath("IMG_1.tiff"), headerFirstTiff(img));
    PatchGeometry g;
    g.PatchX0 = g.PatchX1 = 0.25;  // column 5
    g.PatchY0 = g.PatchY1 = 0.7;   // row 7
    ASSERT_EQ(CalcularWBPatch(ruta(), g, true, wb, rep), 1);
    // One pixel (1570, 1571, 1572): the largest is blue.
    EXPECT_EQ(wb[0], "1.001");
    EXPECT_EQ(wb[2], "1");
    // A large circle in the corner reads only pixels of the image, no crash.
    g.PatchX0 = 0;
    g.PatchY0 = 0;
    g.PatchX1 = 1;
    g.PatchY1 = 1;
    EXPECT_EQ(CalcularWBPatch(ruta(), g, false, wb, rep), 1);
}

TEST_F(PatchWBTest, UnreadableTiffLeavesTheMultipliers) {
    writeBytes(dir.filePath("IMG_1.tiff"), "not a tiff");
    EXPECT_EQ(CalcularWBPatch(ruta(), block(), true, wb, rep), -1);
    EXPECT_EQ(wb[0], "7");
    EXPECT_EQ(rep.logLines(), (QStringList{"Error reading tiff file, please try again", "DONE"}));
    ASSERT_EQ(rep.boxes.size(), 1u);  // the library's own report
    EXPECT_TRUE(rep.boxes[0].text.contains("gflLoadBitmap ["));
}

}  // namespace
