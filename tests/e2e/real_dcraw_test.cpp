// The whole chain through the real window and the real dcraw, on small
// synthetic bracket sets: reference, preview, Develop, Calc EV, Calc WB.
#include "tests/app/window_fixture.h"
#include "support/recording_reporter.h"
#include "tests/common/output_file_checks.h"
#include "tests/common/test_images.h"

#include <QDir>
#include <QImage>
#include <QFile>
#include <QProcess>
#include <cmath>

namespace {

class RealDcrawTest : public WindowTest {
protected:
    std::shared_ptr<DecoderLauncher> launcherFor() override { return nullptr; }  // the real one
    int maxDecoders() const override { return 0; }  // one per core, as the program runs

    void SetUp() override {
        ASSERT_TRUE(QFile::exists(RutaDCRAW)) << "dcraw is not installed";
        WindowTest::SetUp();
    }
    // Five 600 x 400 frames, 2 EV apart, darkest first.
    QString makeBracket(int count = 5, double step = 2) {
        QProcess gen;
        gen.start(ORRINDALE_MAKE_BRACKET,
                  {"--count", QString::number(count), "--step", QString::number(step), "--width",
                   "600", "--height", "400", "--out", dir.path()});
        EXPECT_TRUE(gen.waitForFinished(60000));
        EXPECT_EQ(gen.exitCode(), 0) << gen.readAllStandardError().toStdString();
        return dir.path() + "/";
    }
    void chooseAndWaitForPreview(const QString& path) {
        nextFile = path;
        window->cmdSeleccionar->click();
        ASSERT_TRUE(waitFor([&] { return window->estado.ImagenMostrada; }, 60000))
            << window->statusText().toStdString();
        EXPECT_TRUE(window->cmdDevelop->isEnabled());
        EXPECT_TRUE(logLines().contains(NombreArchivoOf(path) + " developed and displayed"));
    }
    void developAndWait() {
        window->cmdDevelop->click();
        ASSERT_TRUE(waitFor([&] { return window->cmdEV->isEnabled(); }, 20000))
            << window->statusText().toStdString();
        EXPECT_FALSE(window->dcrawLog()->isVisible());
    }
    // Brightness of image k over image k-1 as measured.
    double gap(int k) const {
        const auto& e = window->imagenes.ExpRelativas;
        return e[static_cast<size_t>(k - 2)] / e[static_cast<size_t>(k - 1)];
    }
    static QString NombreArchivoOf(const QString& p) { return p.mid(p.lastIndexOf('/') + 1); }

    QTemporaryDir dir{QDir::tempPath() + "/o-XXXXXX"};
};

TEST_F(RealDcrawTest, DevelopAndMeasureTheExposureSteps) {
    const QString folder = makeBracket();
    chooseAndWaitForPreview(folder + "IMG_0003.dng");
    EXPECT_EQ(window->ArchivosRAW.size(), 5);
    EXPECT_EQ(window->patch.AnchoMostrado, 585);
    developAndWait();
    EXPECT_TRUE(window->dcrawLog()->text().contains("IMG_0005.dng"));
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(QFile::exists(folder + QString("IMG_%1.tiff").arg(i, 4, 10, QChar('0'))));

    for (bool average : {false, true}) {
        SCOPED_TRACE(average ? "Average" : "Median");
        if (window->estado.MetodoMedia != average) window->cmdEVMethod->click();
        window->cmdEV->click();
        ASSERT_TRUE(window->cmdBuildMap->isEnabled()) << window->statusText().toStdString();
        ASSERT_EQ(window->imagenes.ExpRelativas.size(), 5u);
        for (int k = 2; k <= 5; ++k) {
            EXPECT_NEAR(gap(k), 4.0, 4.0 * 0.02) << "pair " << k;
            RecordProperty((average ? "average_gap" : "median_gap") + std::to_string(k),
                           QString::number(gap(k), 'f', 4).toStdString());
        }
        EXPECT_TRUE(window->imagenes.ArchivosTIFF.front().endsWith("IMG_0001.tiff"));
    }
    EXPECT_FALSE(QDir(folder).entryList({"His_*.gif"}).isEmpty());
}

TEST_F(RealDcrawTest, HighlightRecoveryDarkensTheLeastExposedFrame) {
    const QString folder = makeBracket(3);
    chooseAndWaitForPreview(folder + "IMG_0002.dng");
    window->chkHLRecovery->click();
    ASSERT_TRUE(window->chkHLRecovery->isChecked());
    developAndWait();
    EXPECT_TRUE(logLines().contains("Highlight recovery on IMG_0001.dng..."));
    window->cmdEV->click();
    ASSERT_TRUE(window->cmdBuildMap->isEnabled()) << window->statusText().toStdString();
    // dcraw's -H scales by the largest multiplier instead of the smallest.
    const double darker = 2.132483;
    RecordProperty("hl_gap2", QString::number(gap(2), 'f', 4).toStdString());
    RecordProperty("hl_gap3", QString::number(gap(3), 'f', 4).toStdString());
    EXPECT_NEAR(gap(2), 4.0 * darker, 4.0 * darker * 0.02);
    EXPECT_NEAR(gap(3), 4.0, 4.0 * 0.02);
}

TEST_F(RealDcrawTest, CalcWBMakesANeutralPatchNeutral) {
    const QString folder = makeBracket(3);
    chooseAndWaitForPreview(folder + "IMG_0002.dng");
    frmMain& w = *window;
    // A grey step of the wedge, well exposed in the middle frame.
    const double u0 = 0.520, u1 = 0.552, v0 = 0.81, v1 = 0.87;
    w.pctImagen_MouseDown(static_cast<float>(u0 * 585), static_cast<float>(v0 * 390));
    w.pctImagen_MouseMove(static_cast<float>(u1 * 585), static_cast<float>(v1 * 390));
    w.pctImagen_MouseUp(static_cast<float>(u1 * 585), static_cast<float>(v1 * 390));
    ASSERT_TRUE(w.cmdCalculateWB->isEnabled());
    w.estado.ImagenMostrada = false;  // to see the new preview arrive
    w.cmdCalculateWB->click();
    ASSERT_TRUE(waitFor([&] { return w.estado.ImagenMostrada; }, 60000)) << w.statusText().toStdString();
    EXPECT_NE(w.txtWB[0]->text(), "2.132483");
    EXPECT_EQ(w.txtWB[1]->text(), "1");
    // The preview now on disk was developed with the measured multipliers.
    RecordingReporter rep;
    GflBitmap preview;
    ASSERT_FALSE(CargarGflBitmap(folder + "IMG_0002.tiff", preview, rep));
    double sum[3] = {0, 0, 0};
    const int x0 = static_cast<int>(u0 * preview.width) + 2, x1 = static_cast<int>(u1 * preview.width) - 2;
    const int y0 = static_cast<int>(v0 * preview.height) + 2, y1 = static_cast<int>(v1 * preview.height) - 2;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            for (int c = 0; c < 3; ++c) sum[c] += preview.row(y)[x * 3 + c];
    EXPECT_GT(sum[1] / ((x1 - x0 + 1) * (y1 - y0 + 1)), 3000);
    RecordProperty("patch_r_over_g", QString::number(sum[0] / sum[1], 'f', 4).toStdString());
    RecordProperty("patch_b_over_g", QString::number(sum[2] / sum[1], 'f', 4).toStdString());
    EXPECT_NEAR(sum[0] / sum[1], 1.0, 0.02);
    EXPECT_NEAR(sum[2] / sum[1], 1.0, 0.02);
}

TEST_F(RealDcrawTest, FromRawFilesToBlendedTiffs) {
    const QString folder = makeBracket(3);
    chooseAndWaitForPreview(folder + "IMG_0002.dng");
    developAndWait();
    frmMain& w = *window;
    w.cmdEV->click();
    ASSERT_TRUE(w.cmdBuildMap->isEnabled()) << w.statusText().toStdString();
    w.cmdBuildMap->click();
    ASSERT_TRUE(w.cmdBlend->isEnabled());
    const QStringList maps = QDir(folder).entryList({"Map_??????.png"}, QDir::Files);
    ASSERT_EQ(maps.size(), 1) << w.statusText().toStdString();
    EXPECT_EQ(w.txtRutaMap->text(), folder + maps[0]);
    const QImage map(folder + maps[0]);
    EXPECT_EQ(map.size(), QSize(600, 400));

    w.hscGamma->setValue(10);  // linear, to compare with the developed frames
    w.cmdBlend->click();
    EXPECT_EQ(logLines().back(), "DONE") << w.statusText().toStdString();
    EXPECT_TRUE(boxes.empty());
    const QStringList colour = QDir(folder).entryList({"OD_??????_sRGB_g1.tif"}, QDir::Files);
    ASSERT_EQ(colour.size(), 1);
    RecordingReporter rep;
    GflBitmap blended, darkest;
    ASSERT_FALSE(CargarGflBitmap(folder + colour[0], blended, rep));
    ASSERT_FALSE(CargarGflBitmap(folder + "IMG_0001.tiff", darkest, rep));
    ASSERT_EQ(blended.width, 600);
    ASSERT_EQ(blended.height, 400);
    // At image 1's exposure: where the darkest frame is well exposed the
    // blend agrees with it (within its noise), and nothing is brighter than
    // full scale.
    double sumBlend = 0, sumDark = 0;
    for (size_t i = 0; i < darkest.pixels.size(); ++i)
        if (darkest.pixels[i] > 4000 && darkest.pixels[i] < 50000) {
            sumBlend += blended.pixels[i];
            sumDark += darkest.pixels[i];
        }
    ASSERT_GT(sumDark, 0);
    EXPECT_NEAR(sumBlend / sumDark, 1.0, 0.03);
    RecordProperty("blend_over_darkest", QString::number(sumBlend / sumDark, 'f', 4).toStdString());

    w.cmdBlendBW->click();
    const QStringList bw = QDir(folder).entryList({"OD_BW_*.tif"}, QDir::Files);
    ASSERT_EQ(bw.size(), 1) << w.statusText().toStdString();
    GflBitmap grey;
    ASSERT_FALSE(CargarGflBitmap(folder + bw[0], grey, rep));
    for (size_t i = 0; i < grey.pixels.size(); i += 3) ASSERT_EQ(grey.pixels[i], grey.pixels[i + 2]);

    w.cmdTestBW->click();
    const QStringList sheets = QDir(folder).entryList({"BWTest_*.gif"}, QDir::Files);
    ASSERT_EQ(sheets.size(), 1) << w.statusText().toStdString();
    EXPECT_EQ(QImage(folder + sheets[0]).size(), QSize(11 * 85 + 10, 11 * 57 + 10));
    EXPECT_EQ(logLines().back(), "DONE");
}

TEST_F(RealDcrawTest, BlendsLookTheSameInAColourManagedReader) {
    const QString tificc = tificcPath();
    if (tificc.isEmpty()) GTEST_SKIP() << "tificc (liblcms2-utils) is not installed";
    const QString folder = makeBracket(3);
    chooseAndWaitForPreview(folder + "IMG_0002.dng");
    frmMain& w = *window;
    struct Result {
        QString name;
        std::array<double, 3> grey;
    };
    std::vector<Result> results;
    for (int profile : {1, 2}) {  // sRGB, Adobe RGB
        if (w.cmbProfile->currentIndex() != profile) {
            pick(w.cmbProfile, profile);
            // The preview is developed again with the new profile first.
            ASSERT_TRUE(w.timReveladoRapido->isActive());
            ASSERT_TRUE(waitFor([&] { return !w.timReveladoRapido->isActive(); }, 60000));
            ASSERT_TRUE(w.cmdDevelop->isEnabled());
        }
        developAndWait();
        w.cmdEV->click();
        w.cmdBuildMap->click();
        ASSERT_TRUE(w.cmdBlend->isEnabled()) << w.statusText().toStdString();
        for (int gamma : {10, 22}) {
            const QDir d(folder);
            const QStringList before = d.entryList({"OD_*.tif"}, QDir::Files);
            w.hscGamma->setValue(gamma);
            w.cmdBlend->click();
            QStringList made = d.entryList({"OD_*.tif"}, QDir::Files);
            for (const QString& f : before) made.removeAll(f);
            ASSERT_EQ(made.size(), 1) << w.statusText().toStdString();
            const QString name = QStringLiteral("p%1_g%2").arg(profile).arg(gamma);
            const GflBitmap srgb = toSrgbWithTificc(tificc, folder + made[0], dir.path() + "/" + name + "_sRGB.tif");
            ASSERT_EQ(srgb.width, 600);
            results.push_back({name, patchMean(srgb, kGreyPatch[0], kGreyPatch[1], kGreyPatch[2], kGreyPatch[3])});
            QFile::remove(dir.path() + "/" + name + "_sRGB.tif");
        }
    }
    ASSERT_EQ(results.size(), 4u);
    EXPECT_GT(results[0].grey[1], 0.05 * 65535);
    for (const Result& r : results)
        for (int c = 0; c < 3; ++c) {
            RecordProperty((r.name + QStringLiteral("_grey%1").arg(c)).toStdString(),
                           QString::number(r.grey[c], 'f', 1).toStdString());
            EXPECT_NEAR(r.grey[c], results[0].grey[c], 0.01 * results[0].grey[c]) << r.name.toStdString() << " " << c;
        }
}

TEST_F(RealDcrawTest, AFileDcrawCannotReadIsReported) {
    makeBracket(2);
    writeBytes(dir.path() + "/bad.CR2", "this is a text file, not a photograph\n");
    nextFile = dir.path() + "/bad.CR2";
    window->cmdSeleccionar->click();
    ASSERT_TRUE(waitFor([&] { return !window->timReveladoRapido->isActive(); }, 30000));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "ERROR");
    EXPECT_TRUE(boxes[0].text.startsWith("DCRAW could not develop bad.CR2\r\n"))
        << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[0].text.contains("bad.CR2"));
    EXPECT_EQ(logLines().back(), "DONE");
    EXPECT_FALSE(window->estado.ImagenMostrada);
}

}  // namespace
