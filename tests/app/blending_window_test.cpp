// "Build map", "...", and the blend buttons driven through the real window on
// a set already loaded as "Calc EV" leaves it.
#include "tests/app/window_fixture.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/blend_reference.h"
#include "tests/common/map_reference.h"

#include <QCheckBox>
#include <QDir>
#include <QRegularExpression>
#include "support/recording_reporter.h"
#include "pipeline/map_stage.h"
#include <QImage>
#include <cmath>

namespace {

class BlendingWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        folder = dir.path() + "/";
        std::vector<GflBitmap> frames;
        for (int i = 0; i < 3; ++i) frames.push_back(bracketFrame(48, 32, 4.0 * std::pow(4.0, i), 3 + i));
        window->imagenes = diskSet(folder, frames);
        window->estado.ImagenMostrada = true;
        window->txtRuta->setText(folder + "IMG_1.CR2");
        window->cmdBuildMap->setEnabled(true);
    }
    QStringList files(const char* pattern) const {
        return QDir(folder).entryList({pattern}, QDir::Files);
    }

    QTemporaryDir dir;
    QString folder;
};

TEST_F(BlendingWindowTest, BuildMapWritesTheMapAndOpensTheBlend) {
    frmMain& w = *window;
    for (QPushButton* b : {w.cmdBlend, w.cmdBlendBW, w.cmdTestBW}) EXPECT_FALSE(b->isEnabled());
    w.cmdBuildMap->click();
    ASSERT_EQ(files("Map_*.png").size(), 1) << w.statusText().toStdString();
    EXPECT_EQ(w.txtRutaMap->text(), folder + files("Map_*.png")[0]);
    for (QPushButton* b : {w.cmdBlend, w.cmdBlendBW, w.cmdTestBW}) EXPECT_TRUE(b->isEnabled());
    EXPECT_EQ(logLines().first(), "Threshold optimisation...");
    // Preset white balance: the Daylight multipliers set the thresholds.
    EXPECT_EQ(logLines()[1], "R: 65279");
    EXPECT_EQ(logLines()[3], "B: 65279");
    EXPECT_TRUE(logLines().contains("Building anti ghosting map (0+3px) ..."));
    EXPECT_TRUE(logLines().contains("Building progressive map (3px) ..."));
    EXPECT_EQ(logLines().back(), "DONE");
    EXPECT_EQ(w.lblXY->text(), "100%");
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(QImage(w.txtRutaMap->text()).size(), QSize(48, 32));
    EXPECT_TRUE(w.imagenes.tablaMapaValida());
}

TEST_F(BlendingWindowTest, TheControlsShapeTheBuild) {
    frmMain& w = *window;
    w.optWB[0]->click();  // camera white balance
    w.hscTH->setValue(50);
    w.hscAntiGhost->setValue(4);
    w.hscProgressive->setValue(0);
    EXPECT_EQ(w.lblTH->text(), "50%");
    EXPECT_EQ(w.lblAntiGhost->text(), "4px");
    EXPECT_EQ(w.lblProgressive->text(), "0px");
    boxes.clear();
    w.cmdBuildMap->setEnabled(true);
    w.cmdBuildMap->click();
    EXPECT_EQ(logLines().mid(1, 3), (QStringList{"R: 32768", "G: 32768", "B: 32768"}));
    EXPECT_TRUE(logLines().contains("Building anti ghosting map (4+0px) ..."));
    EXPECT_FALSE(logLines().join("|").contains("progressive"));
}

TEST_F(BlendingWindowTest, ANonNumberMultiplierIsReportedAndTheBlendStaysReachable) {
    frmMain& w = *window;
    w.txtRutaMap->setText("/earlier/Map_000000.png");
    w.txtWB[1]->setText("one");
    boxes.clear();
    w.cmdBuildMap->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("Unexpected error occurred in module GenerarMapa"));
    EXPECT_EQ(w.txtRutaMap->text(), "/earlier/Map_000000.png");
    EXPECT_TRUE(files("Map_*.png").isEmpty());
    // However the build ended.
    for (QPushButton* b : {w.cmdBlend, w.cmdBlendBW, w.cmdTestBW}) EXPECT_TRUE(b->isEnabled());
}

TEST_F(BlendingWindowTest, NothingHappensWhileNoImageIsShown) {
    frmMain& w = *window;
    w.estado.ImagenMostrada = false;
    const QString before = w.statusText();
    w.cmdBuildMap_Click();
    EXPECT_EQ(w.statusText(), before);
    EXPECT_TRUE(files("Map_*.png").isEmpty());
    EXPECT_FALSE(w.cmdBlend->isEnabled());
}

TEST_F(BlendingWindowTest, ChoosingAMapFile) {
    frmMain& w = *window;
    nextFile = "/maps/Map_101010.png";
    w.cmdSelMap->click();
    EXPECT_EQ(dialogFilter, "Map PNG files (*.png)");
    EXPECT_EQ(w.txtRutaMap->text(), "/maps/Map_101010.png");
    // Cancelling, or the same file again, changes nothing.
    nextFile = "";
    w.cmdSelMap->click();
    EXPECT_EQ(w.txtRutaMap->text(), "/maps/Map_101010.png");
    nextFile = "/maps/Map_101010.png";
    w.cmdSelMap->click();
    EXPECT_EQ(w.txtRutaMap->text(), "/maps/Map_101010.png");
    EXPECT_EQ(dialogs, 3);
    EXPECT_TRUE(w.txtRutaMap->isReadOnly());
    // The chosen file is not opened here.
    EXPECT_TRUE(boxes.empty());
}

TEST_F(BlendingWindowTest, ColourAndBWWriteTheirFilesFromTheControls) {
    frmMain& w = *window;
    w.cmdBuildMap->click();
    ASSERT_TRUE(w.cmdBlend->isEnabled());
    EXPECT_FALSE(w.chkWeighted->isChecked());
    w.cmdBlend->click();
    QStringList out = files("OD_*.tif");
    ASSERT_EQ(out.size(), 1) << w.statusText().toStdString();
    EXPECT_TRUE(QRegularExpression("^OD_\\d{6}_sRGB_g2\\.2\\.tif$").match(out[0]).hasMatch()) << out[0].toStdString();
    EXPECT_TRUE(logLines().contains("Blending images..."));
    EXPECT_EQ(logLines().back(), "DONE");
    EXPECT_EQ(beeps, 2);

    // B&W with the controls moved: red 80 pushes blue to 20; gamma 1; ETTR;
    // three files 1 EV apart; another profile.
    w.hscBWR->setValue(80);
    EXPECT_EQ(w.hscBWB->value(), 20);
    EXPECT_EQ(w.lblBWB->text(), "20%");
    w.hscGamma->setValue(10);
    EXPECT_EQ(w.lblGamma->text(), "1");
    w.chkETTR->click();
    w.chkWeighted->click();
    w.hscBracketNum->setValue(3);
    w.hscBracketEV->setValue(1);
    EXPECT_EQ(w.txtBracket->text(), "0 +1 +2");
    const BlendSettings s = w.readBlendSettings(true);
    EXPECT_EQ(s.pesoRojo, 80);
    EXPECT_EQ(s.pesoAzul, 20);
    EXPECT_TRUE(s.ettr);
    EXPECT_TRUE(s.merge == BlendMerge::Weighted);
    EXPECT_EQ(s.rutaMapa, w.txtRutaMap->text());
    w.cmdBlendBW->click();
    const QStringList bw = files("OD_BW_*.tif");
    ASSERT_EQ(bw.size(), 3) << w.statusText().toStdString();
    EXPECT_TRUE(boxes.empty()) << boxes[0].text.toStdString();
    for (const char* end : {"_sRGB_g1_0EV.tif", "_sRGB_g1_+1EV.tif", "_sRGB_g1_+2EV.tif"})
        EXPECT_EQ(bw.filter(end).size(), 1) << end;
    EXPECT_TRUE(logLines().contains("Calculating ETTR correction..."));
    EXPECT_TRUE(logLines().contains("Blending images (weighted)..."));
    GflBitmap image;
    RecordingReporter r;
    ASSERT_FALSE(CargarGflBitmap(folder + bw.filter("_0EV")[0], image, r));
    EXPECT_EQ(image.width, 48);
    for (size_t i = 0; i < image.pixels.size(); i += 3) {
        ASSERT_EQ(image.pixels[i], image.pixels[i + 1]);
        ASSERT_EQ(image.pixels[i], image.pixels[i + 2]);
    }
}

TEST_F(BlendingWindowTest, NothingElseStartsWhileABlendRuns) {
    frmMain& w = *window;
    w.cmdBuildMap->click();
    const int before = static_cast<int>(files("Map_??????.png").size());
    // Clicks that arrive while the blend lets the window run.
    int tried = 0;
    QTimer::singleShot(0, &w, [&] {
        ++tried;
        w.cmdBlendBW->click();
        w.cmdBuildMap->click();
        w.cmdBlend->click();
        w.cmdEV->setEnabled(true);
        w.cmdEV->click();
    });
    w.cmdBlend->click();
    EXPECT_EQ(tried, 1);
    EXPECT_EQ(files("OD_*.tif").size(), 1) << files("OD_*.tif").join(" ").toStdString();
    EXPECT_TRUE(files("OD_BW_*.tif").isEmpty());
    EXPECT_EQ(files("Map_??????.png").size(), before);
    EXPECT_EQ(logLines().first(), "Loading blending map...");
    EXPECT_EQ(logLines().back(), "DONE");
    EXPECT_TRUE(w.imagenes.usable());
}

TEST_F(BlendingWindowTest, TheContactSheetButton) {
    frmMain& w = *window;
    w.cmdBuildMap->click();
    ASSERT_TRUE(w.cmdTestBW->isEnabled());
    int tried = 0;
    QTimer::singleShot(0, &w, [&] {
        ++tried;
        w.cmdBlend->click();  // refused while the sheet is drawn
    });
    w.cmdTestBW->click();
    EXPECT_EQ(tried, 1);
    EXPECT_TRUE(files("OD_*.tif").isEmpty());
    const QStringList sheets = files("BWTest_*.gif");
    ASSERT_EQ(sheets.size(), 1) << w.statusText().toStdString();
    EXPECT_EQ(QImage(folder + sheets[0]).size(), QSize(11 * 6 + 10, 11 * 4 + 10));
    EXPECT_EQ(w.lblXY->text(), "100%");
    EXPECT_EQ(logLines().back(), "DONE");
    EXPECT_TRUE(logLines().contains("Decimating blending map to 6x4..."));
}

TEST_F(BlendingWindowTest, AMapOfAnotherSizeIsRefusedThroughTheWindow) {
    frmMain& w = *window;
    w.cmdBuildMap->click();
    QImage small(47, 32, QImage::Format_Grayscale8);
    small.fill(0);
    ASSERT_TRUE(small.save(folder + "small.png"));
    nextFile = folder + "small.png";
    w.cmdSelMap->click();
    boxes.clear();
    w.cmdBlend->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Map dimensions do not match image dimensions");
    EXPECT_TRUE(files("OD_*.tif").isEmpty());
}

}  // namespace
