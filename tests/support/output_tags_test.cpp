// Output tags: the shot data read from a developed frame, the description line,
// and the tags in written files, read back with plain libtiff and Qt.
#include "support/output_tags.h"
#include "orrindale_version.h"
#include "support/gfl_bitmap.h"
#include "support/recording_reporter.h"
#include "support/tiff_io.h"
#include "tests/common/output_file_checks.h"
#include "tests/common/test_images.h"

#include <tiffio.h>

#include <gtest/gtest.h>
#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLocale>
#include <QTemporaryDir>
#include <cmath>
#include <memory>
#include <vector>

namespace {

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr openForReading(const QString& path) {
    return TiffPtr(TIFFOpen(QFile::encodeName(path).constData(), "r"));
}

// Every strip's bytes as stored, still LZW-encoded.
std::vector<QByteArray> rawStrips(const QString& path) {
    const TiffPtr tif = openForReading(path);
    std::vector<QByteArray> strips;
    if (!tif) return strips;
    for (uint32_t s = 0; s < TIFFNumberOfStrips(tif.get()); ++s) {
        QByteArray bytes(static_cast<qsizetype>(TIFFGetStrileByteCount(tif.get(), s)), '\0');
        if (TIFFReadRawStrip(tif.get(), s, bytes.data(), bytes.size()) != bytes.size()) return {};
        strips.push_back(bytes);
    }
    return strips;
}

TiffTags fullTags() {
    TiffTags tags;
    tags.iccProfile = buildOutputProfile(readRgbProfile(dcrawStyleSrgb()), 2.2);
    tags.make = QStringLiteral("Orrindale");
    tags.model = QStringLiteral("Synthetic");
    tags.dateTime = QStringLiteral("2024:06:21 12:00:00");
    tags.description = QStringLiteral("Blend of 5 frames 2 EV apart, gamma 2.2, colour, +0 EV");
    tags.exif.exposureTime = 1.0 / 256;
    tags.exif.fNumber = 5.6;
    tags.exif.iso = 400;
    tags.exif.focalLength = 35;
    return tags;
}

class OutputTagsTest : public ::testing::Test {
  protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(OutputTagsTest, EveryTagReadsBackWithPlainLibtiff) {
    const TiffTags tags = fullTags();
    ASSERT_FALSE(tags.iccProfile.isEmpty());
    writeTiffRgb16(randomBitmap(40, 30, 1), path("t.tif"), tags);

    const PlainTags back = plainTags(path("t.tif"));
    EXPECT_EQ(back.make, "Orrindale");
    EXPECT_EQ(back.model, "Synthetic");
    EXPECT_EQ(back.dateTime, "2024:06:21 12:00:00");
    EXPECT_EQ(back.software, "Orrindale " ORRINDALE_VERSION);
    EXPECT_EQ(back.description, tags.description);
    EXPECT_EQ(iccOfTiff(path("t.tif")), tags.iccProfile);
    ASSERT_TRUE(back.hasExif);
    EXPECT_EQ(back.exifVersion, "0230");
    EXPECT_DOUBLE_EQ(back.exposure, 1.0 / 256);
    EXPECT_NEAR(back.aperture, 5.6, 1e-6);
    EXPECT_DOUBLE_EQ(back.focal, 35);
    EXPECT_EQ(back.iso, 400);
}

TEST_F(OutputTagsTest, TagsLeaveTheEncodedStripsAndPixelsAsTheyAre) {
    // 700 x 200: several strips, so the strip table of both files is compared.
    const GflBitmap image = randomBitmap(700, 200, 2);
    writeTiffRgb16(image, path("plain.tif"));
    writeTiffRgb16(image, path("tagged.tif"), fullTags());
    const std::vector<QByteArray> plain = rawStrips(path("plain.tif"));
    ASSERT_GT(plain.size(), 1u);
    EXPECT_TRUE(rawStrips(path("tagged.tif")) == plain);
    GflBitmap a, b;
    readTiffRgb16(path("plain.tif"), a);
    readTiffRgb16(path("tagged.tif"), b);
    EXPECT_TRUE(a.pixels == image.pixels);
    EXPECT_TRUE(b.pixels == image.pixels);
    EXPECT_TRUE(tiffFileIsComplete(path("tagged.tif")));
}

TEST_F(OutputTagsTest, NoTagsWritesTheSameBytesAsAlways) {
    const GflBitmap image = randomBitmap(50, 20, 3);
    writeTiffRgb16(image, path("a.tif"));
    writeTiffRgb16(image, path("b.tif"), TiffTags{});
    EXPECT_EQ(readBytes(path("a.tif")), readBytes(path("b.tif")));
    RecordingReporter rep;
    ASSERT_FALSE(GuardarGflBitmap(image, path("c.tif"), rep));
    EXPECT_EQ(readBytes(path("a.tif")), readBytes(path("c.tif")));
    EXPECT_TRUE(iccOfTiff(path("c.tif")).isEmpty());
    EXPECT_FALSE(plainTags(path("c.tif")).hasExif);
    EXPECT_TRUE(plainTags(path("c.tif")).make.isEmpty());
}

TEST_F(OutputTagsTest, GuardarGflBitmapPassesTheTagsOn) {
    RecordingReporter rep;
    const TiffTags tags = fullTags();
    ASSERT_FALSE(GuardarGflBitmap(randomBitmap(9, 9, 4), path("g.tif"), rep, tags));
    EXPECT_TRUE(rep.boxes.empty());
    EXPECT_EQ(iccOfTiff(path("g.tif")), tags.iccProfile);
    const TiffTags back = readTiffTags(path("g.tif"));
    EXPECT_EQ(back.description, tags.description);
    EXPECT_EQ(back.exif.iso, 400);
}

TEST_F(OutputTagsTest, PartialShotDataCopiesWhatIsThere) {
    TiffTags some;
    some.model = QStringLiteral("Only a model");
    some.exif.iso = 1600;
    some.exif.focalLength = 0;  // cameras write 0 for "unknown"
    writeTiffRgb16(randomBitmap(8, 8, 5), path("p.tif"), some);
    const ShotData shot = readShotData(path("p.tif"));
    EXPECT_TRUE(shot.make.isEmpty());
    EXPECT_EQ(shot.model, "Only a model");
    EXPECT_TRUE(shot.dateTime.isEmpty());
    EXPECT_EQ(shot.exif.iso, 1600);
    EXPECT_FALSE(shot.exif.exposureTime);
    EXPECT_FALSE(shot.exif.fNumber);
    EXPECT_FALSE(shot.exif.focalLength);
    EXPECT_FALSE(shot.colours);

    // And the output made from it carries exactly that.
    writeTiffRgb16(randomBitmap(8, 8, 6), path("o.tif"), outputTags(shot, {}, QStringLiteral("x")));
    const TiffTags back = readTiffTags(path("o.tif"));
    EXPECT_TRUE(back.make.isEmpty());
    EXPECT_EQ(back.model, "Only a model");
    EXPECT_EQ(back.exif.iso, 1600);
    EXPECT_FALSE(back.exif.focalLength);
    EXPECT_TRUE(back.iccProfile.isEmpty());
}

TEST_F(OutputTagsTest, NoExifAtAllMeansNoExifDirectory) {
    TiffTags tags;
    tags.make = QStringLiteral("M");
    writeTiffRgb16(randomBitmap(8, 8, 7), path("n.tif"), tags);
    EXPECT_FALSE(plainTags(path("n.tif")).hasExif);
    EXPECT_TRUE(readShotData(path("n.tif")).exif.empty());
}

TEST_F(OutputTagsTest, AnUnusableInputProfileOnlyDropsTheProfile) {
    const QByteArray good = dcrawStyleSrgb();
    const struct {
        const char* name;
        QByteArray icc;
    } cases[] = {
        {"truncated", good.left(good.size() / 2)},
        {"damaged", withDamagedTag(good, cmsSigGreenColorantTag)},
        {"grey", greyProfile()},
        {"garbage", QByteArray(300, '\x5a')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TiffTags tags = fullTags();
        tags.iccProfile = c.icc;
        writeTiffRgb16(randomBitmap(8, 8, 8), path("in.tif"), tags);
        const ShotData shot = readShotData(path("in.tif"));
        EXPECT_FALSE(shot.colours);
        EXPECT_EQ(shot.make, "Orrindale");
        EXPECT_EQ(shot.exif.iso, 400);
        const QByteArray profile = buildOutputProfile(shot.colours, 2.2);
        EXPECT_TRUE(profile.isEmpty());
        RecordingReporter rep;
        ASSERT_FALSE(GuardarGflBitmap(randomBitmap(8, 8, 9), path("out.tif"), rep,
                                      outputTags(shot, profile, QStringLiteral("d"))));
        EXPECT_TRUE(rep.boxes.empty());
        EXPECT_TRUE(rep.logLines().isEmpty());
        EXPECT_TRUE(iccOfTiff(path("out.tif")).isEmpty());
        EXPECT_EQ(readTiffTags(path("out.tif")).make, "Orrindale");
    }
}

TEST_F(OutputTagsTest, FilesThatAreNotDevelopedFramesGiveEmptyShotData) {
    writeBytes(path("text.tif"), "not a tiff at all\n");
    for (const QString& p : {path("missing.tif"), path("text.tif"), dir.path()}) {
        SCOPED_TRACE(p.toStdString());
        const ShotData shot = readShotData(p);
        EXPECT_TRUE(shot.make.isEmpty());
        EXPECT_TRUE(shot.model.isEmpty());
        EXPECT_TRUE(shot.exif.empty());
        EXPECT_FALSE(shot.colours);
    }
    // A plain TIFF with none of the tags.
    writeTestTiff(path("bare.tif"), randomBitmap(8, 8, 10), TiffLayout{});
    const ShotData bare = readShotData(path("bare.tif"));
    EXPECT_TRUE(bare.make.isEmpty());
    EXPECT_TRUE(bare.exif.empty());
    EXPECT_FALSE(bare.colours);
}

// Qt reads 16-bit TIFF only through its optional tiff plugin.
TEST_F(OutputTagsTest, QtReadsTheTaggedFileAndItsColourSpace) {
    if (!QImageReader::supportedImageFormats().contains("tiff"))
        GTEST_SKIP() << "Qt's tiff image plugin is not installed";
    const GflBitmap image = randomBitmap(31, 17, 11);
    writeTiffRgb16(image, path("q.tif"), fullTags());
    QImageReader reader(path("q.tif"));
    const QImage read = reader.read();
    ASSERT_FALSE(read.isNull()) << reader.errorString().toStdString();
    ASSERT_EQ(read.width(), image.width);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const QRgba64 p = read.pixelColor(x, y).rgba64();
            ASSERT_EQ(p.red(), image.row(y)[x * 3]) << x << "," << y;
            ASSERT_EQ(p.blue(), image.row(y)[x * 3 + 2]) << x << "," << y;
        }
    const QColorSpace space = read.colorSpace();
    ASSERT_TRUE(space.isValid());
    EXPECT_EQ(space.primaries(), QColorSpace::Primaries::SRgb);
    EXPECT_EQ(space.transferFunction(), QColorSpace::TransferFunction::Gamma);
    EXPECT_NEAR(space.gamma(), 2.2f, 1e-3f);
}

TEST(DescribeBlend, OneLineWithFramesStepGammaColourAndOffset) {
    EXPECT_EQ(describeBlend({5, 2.0, 2.2, false, 0}),
              "Blend of 5 frames 2 EV apart, gamma 2.2, colour, +0 EV");
    EXPECT_EQ(describeBlend({3, 1.98412, 1.0, true, 4}),
              "Blend of 3 frames 1.98 EV apart, gamma 1, B&W, +4 EV");
    EXPECT_EQ(describeBlend({2, 0.6666, 3.0, false, 24}),
              "Blend of 2 frames 0.67 EV apart, gamma 3, colour, +24 EV");
    EXPECT_EQ(describeBlend({1, 0, 1.8, false, 0}), "Blend of 1 frame, gamma 1.8, colour, +0 EV");
    EXPECT_EQ(describeBlend({4, 2.0, 2.2, false, -2}),
              "Blend of 4 frames 2 EV apart, gamma 2.2, colour, -2 EV");
    EXPECT_EQ(describeBlend({3, 2.0, 1.0, true, 2, true}),
              "Blend of 3 frames 2 EV apart, gamma 1, B&W, weighted, +2 EV");
}

TEST(DescribeBlend, UsesAPointWhateverTheLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString line = describeBlend({5, 1.5, 2.2, false, 2});
    QLocale::setDefault(saved);
    EXPECT_EQ(line, "Blend of 5 frames 1.5 EV apart, gamma 2.2, colour, +2 EV");
}

TEST(MeasuredStep, WholeSpanOverTheGaps) {
    EXPECT_DOUBLE_EQ(measuredStepEv({1.0, 0.25, 0.0625}), 2.0);
    EXPECT_DOUBLE_EQ(measuredStepEv({1.0, 0.5, 0.125}), 1.5);  // unequal gaps: their mean
    EXPECT_NEAR(measuredStepEv({1.0, 0.2502, 0.0626, 0.01561}), 2.0, 0.01);
    EXPECT_EQ(measuredStepEv({}), 0);
    EXPECT_EQ(measuredStepEv({1.0}), 0);
    EXPECT_EQ(measuredStepEv({1.0, 0.0}), 0);
    EXPECT_EQ(measuredStepEv({1.0, -0.25}), 0);
}

}  // namespace
