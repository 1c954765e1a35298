// Sorting the set by exposure: level lines, ranking with ties, the reordered
// set, the release without reloading, and the system decimal separator.
#include "pipeline/calc_ev.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"
#include "tests/common/exposure_sets.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>

namespace {

class OrdenarTest : public ::testing::Test {
  protected:
    void SetUp() override { folder = dir.path() + QStringLiteral("/"); }

    // Writes the images as IMG_1.tiff, IMG_2.tiff, ... and loads them.
    void load(const std::vector<GflBitmap>& images) {
        QStringList tiffs, raws;
        for (size_t i = 1; i <= images.size(); ++i) {
            tiffs << QStringLiteral("IMG_%1.tiff").arg(i);
            raws << QStringLiteral("IMG_%1.CR2").arg(i);
        }
        writeTiffSet(folder, tiffs, images);
        ASSERT_EQ(CargarTIFFs(folder + raws[0], raws, set, rep), static_cast<int>(images.size()));
    }
    QString path(int i) const { return folder + QStringLiteral("IMG_%1.tiff").arg(i); }

    QTemporaryDir dir;
    QString folder;
    RecordingReporter rep;
    ImageSet set;
};

TEST_F(OrdenarTest, BrightDarkMediumAreLoggedInLoadOrderAndReloadedDarkestFirst) {
    // Mean levels 0.5, 0.123445 and 0.25 of full scale.
    const GflBitmap bright = uniformBitmap(4, 4, 32768, 32767, 32768);
    const GflBitmap dark = uniformBitmap(4, 4, 8090, 8090, 8090);
    GflBitmap medium = uniformBitmap(4, 4, 0, 0, 0);  // a white diagonal: 4 of 16 pixels
    for (int i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c) medium.row(i)[i * 3 + c] = 65535;
    load({bright, dark, medium});

    OrdenarPorExposicion(true, set, rep);
    EXPECT_EQ(rep.logLines(),
              QStringList({"Loading 3 TIFF files...", "", "Calculating absolute exposure...",
                           "IMG_1.tiff: 50%", "IMG_2.tiff: " + dec("12.3") + "%", "IMG_3.tiff: 25%",
                           "Sorting images by exposure...", "Reloading sorted images..."}));
    EXPECT_EQ(set.OrdenExposicion, (std::vector<int16_t>{2, 3, 1}));
    EXPECT_EQ(set.ArchivosTIFF, QStringList({path(2), path(3), path(1)}));
    EXPECT_EQ(set.TIFFMenosExpuesto, path(2));
    EXPECT_TRUE(set.TIFFsCargados);
    EXPECT_EQ(set.ImagenesTIFF[0].pixels, dark.pixels);
    EXPECT_EQ(set.ImagenesTIFF[1].pixels, medium.pixels);
    EXPECT_EQ(set.ImagenesTIFF[2].pixels, bright.pixels);
    EXPECT_TRUE(rep.boxes.empty());
}

TEST_F(OrdenarTest, EqualSumsRankTheFirstLoadedAsBrighterAndBlackComesFirst) {
    const GflBitmap same = uniformBitmap(3, 3, 5000, 6000, 7000);
    load({same, same, uniformBitmap(3, 3, 0, 0, 0)});
    OrdenarPorExposicion(true, set, rep);
    EXPECT_EQ(set.OrdenExposicion, (std::vector<int16_t>{3, 2, 1}));
    EXPECT_EQ(rep.logLines()[5], "IMG_3.tiff: 0%");
    EXPECT_EQ(set.TIFFMenosExpuesto, path(3));
}

TEST_F(OrdenarTest, WithoutReloadingTheImagesAreReleasedAndTheListsKept) {
    load({uniformBitmap(3, 3, 9000, 9000, 9000), uniformBitmap(3, 3, 3000, 3000, 3000)});
    OrdenarPorExposicion(false, set, rep);
    EXPECT_FALSE(set.TIFFsCargados);
    for (const GflBitmap& image : set.ImagenesTIFF) EXPECT_TRUE(image.empty());
    EXPECT_EQ(set.ArchivosTIFF, QStringList({path(1), path(2)}));
    EXPECT_EQ(set.OrdenExposicion, (std::vector<int16_t>{2, 1}));
    EXPECT_EQ(set.TIFFMenosExpuesto, path(2));
    EXPECT_EQ(rep.logLines().back(), "Sorting images by exposure...");
}

TEST_F(OrdenarTest, ASetThatIsNotLoadedIsAnUnexpectedErrorAndStaysUnusable) {
    load({uniformBitmap(3, 3, 9000, 9000, 9000), uniformBitmap(3, 3, 3000, 3000, 3000)});
    OrdenarPorExposicion(false, set, rep);  // releases
    rep.boxes.clear();
    OrdenarPorExposicion(true, set, rep);
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.startsWith(
        "Unexpected error occurred in module OrdenarPorExposicion \r\n"));
    EXPECT_EQ(rep.logLines(), QStringList{"An unexpected error occurred"});
    EXPECT_FALSE(set.TIFFsCargados);
}

TEST_F(OrdenarTest, LevelsUseTheSystemDecimalSeparator) {
    // When run by the next test, the system locale is German.
    if (qEnvironmentVariableIsSet("ORRINDALE_EXPECT_COMMA")) {
        ASSERT_EQ(QLocale::system().decimalPoint(), ",");
    }
    load({uniformBitmap(3, 3, 8090, 8090, 8090), uniformBitmap(3, 3, 1000, 1000, 1000)});
    OrdenarPorExposicion(true, set, rep);
    EXPECT_EQ(rep.logLines()[3], "IMG_1.tiff: " + dec("12.3") + "%");
    EXPECT_EQ(rep.logLines()[4], "IMG_2.tiff: " + dec("1.5") + "%");
}

TEST(OrdenarLocaleTest, ACommaLocaleWritesCommas) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "de_DE.UTF-8");
    env.insert("ORRINDALE_EXPECT_COMMA", "1");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=OrdenarTest.LevelsUseTheSystemDecimalSeparator"});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

}  // namespace
