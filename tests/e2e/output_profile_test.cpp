// Output tags on frames developed by the real dcraw: every output profile of
// the window carries over into the written file, "None" gives no profile, the
// shot data is copied, and LittleCMS's tificc shows the same grey whichever
// profile and gamma the file was made with. (Damaged profiles: support tests.)
#include "develop/dcraw_command.h"
#include "orrindale_version.h"
#include "support/gfl_bitmap.h"
#include "support/numbers.h"
#include "support/output_tags.h"
#include "support/recording_reporter.h"
#include "support/tiff_io.h"
#include "tests/common/output_file_checks.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The output gamma's encoding, e = 65535 (v / 65535)^(1 / gamma).
GflBitmap encodeGamma(const GflBitmap& linear, double gamma) {
    GflBitmap out = linear;
    if (gamma == 1.0) return out;
    for (uint16_t& v : out.pixels)
        v = static_cast<uint16_t>(
            std::min(65535.0, roundHalfEven(65535.0 * std::pow(v / 65535.0, 1.0 / gamma))));
    return out;
}

double srgbEncode(double linear) {
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

class OutputProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(RutaDCRAW)) << "dcraw is not installed";
        ASSERT_TRUE(dir.isValid());
        // One 600 x 400 frame at the bracket's centre exposure.
        QProcess gen;
        gen.start(ORRINDALE_MAKE_BRACKET,
                  {"--count", "1", "--width", "600", "--height", "400", "--out", dir.path()});
        ASSERT_TRUE(gen.waitForFinished(60000));
        ASSERT_EQ(gen.exitCode(), 0) << gen.readAllStandardError().toStdString();
        raw = dir.filePath("IMG_0001.dng");
        ASSERT_TRUE(QFile::exists(raw));
    }

    // Develops the frame with dcraw's output profile `profile` (-o 0..5) as a
    // 16-bit linear TIFF; returns its path.
    QString develop(int profile) {
        const QString copy = dir.filePath(QStringLiteral("o%1.dng").arg(profile));
        QFile::remove(copy);
        EXPECT_TRUE(QFile::copy(raw, copy));
        QProcess dcraw;
        dcraw.start(RutaDCRAW, {"-4", "-T", "-o", QString::number(profile), copy});
        EXPECT_TRUE(dcraw.waitForFinished(60000));
        EXPECT_EQ(dcraw.exitCode(), 0) << dcraw.readAllStandardError().toStdString();
        const QString tiff = dir.filePath(QStringLiteral("o%1.tiff").arg(profile));
        EXPECT_TRUE(QFile::exists(tiff));
        return tiff;
    }

    // Writes `image` as an output file of a blend of the developed `tiff`.
    QString writeOutput(const QString& tiff, const GflBitmap& image, double gamma,
                        const QString& name) {
        const ShotData shot = readShotData(tiff);
        const QString out = dir.filePath(name);
        RecordingReporter rep;
        EXPECT_FALSE(GuardarGflBitmap(image, out, rep,
                                      outputTags(shot, buildOutputProfile(shot.colours, gamma),
                                                 describeBlend({5, 2.0, gamma, false, 0}))));
        EXPECT_TRUE(rep.boxes.empty());
        return out;
    }

    QTemporaryDir dir{QDir::tempPath() + "/o-XXXXXX"};
    QString raw;
};

TEST_F(OutputProfileTest, EveryDcrawProfileCarriesItsPrimariesAndTheOutputGamma) {
    const char* names[] = {"", "sRGB", "Adobe RGB", "Wide Gamut", "ProPhoto", "XYZ"};
    for (int profile = 1; profile <= 5; ++profile) {
        SCOPED_TRACE(names[profile]);
        const QString tiff = develop(profile);
        const QByteArray source = iccOfTiff(tiff);
        ASSERT_FALSE(source.isEmpty()) << "dcraw embedded no profile";
        const LcmsProfile in = openProfile(source);
        ASSERT_TRUE(in);
        const auto inWhite = xyzTag(in.get(), cmsSigMediaWhitePointTag);
        ASSERT_TRUE(inWhite);
        GflBitmap developed;
        readTiffRgb16(tiff, developed);

        for (double gamma : {2.2, 1.0}) {
            SCOPED_TRACE(gamma);
            const QString out = writeOutput(tiff, encodeGamma(developed, gamma), gamma,
                                            QStringLiteral("out%1_%2.tif").arg(profile).arg(gamma));
            const LcmsProfile written = openProfile(iccOfTiff(out));
            ASSERT_TRUE(written) << "the output has no profile";
            cmsHPROFILE p = written.get();
            EXPECT_EQ(cmsGetColorSpace(p), cmsSigRgbData);
            for (cmsTagSignature tag :
                 {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
                const auto a = xyzTag(in.get(), tag), b = xyzTag(p, tag);
                ASSERT_TRUE(a && b);
                EXPECT_NEAR(b->X, a->X, 1e-9);
                EXPECT_NEAR(b->Y, a->Y, 1e-9);
                EXPECT_NEAR(b->Z, a->Z, 1e-9);
            }
            const auto chad = chadTag(p);
            ASSERT_TRUE(chad);
            const cmsCIEXYZ adapted = times(*chad, *inWhite);  // the developed file's white
            EXPECT_NEAR(adapted.X, cmsD50_XYZ()->X, 1e-4);
            EXPECT_NEAR(adapted.Y, cmsD50_XYZ()->Y, 1e-4);
            EXPECT_NEAR(adapted.Z, cmsD50_XYZ()->Z, 1e-4);
            for (cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag})
                EXPECT_NEAR(curveAt(p, tag, 0.5), std::pow(0.5, gamma), 1e-4);
        }
    }
}

TEST_F(OutputProfileTest, RawColourDevelopmentGivesNoProfileButKeepsTheShotData) {
    const QString tiff = develop(0);
    EXPECT_TRUE(iccOfTiff(tiff).isEmpty()) << "dcraw now embeds a profile for raw colour";
    const ShotData shot = readShotData(tiff);
    EXPECT_FALSE(shot.colours);
    GflBitmap developed;
    readTiffRgb16(tiff, developed);
    for (double gamma : {2.2, 1.0}) {
        const QString out = writeOutput(tiff, encodeGamma(developed, gamma), gamma,
                                        QStringLiteral("none_%1.tif").arg(gamma));
        EXPECT_TRUE(iccOfTiff(out).isEmpty());
        EXPECT_EQ(plainTags(out).make, "Orrindale");
    }
}

TEST_F(OutputProfileTest, ShotDataIsCopiedAndTheDescriptionAndSoftwareAdded) {
    const QString tiff = develop(1);
    const PlainTags developed = plainTags(tiff);
    // What the sample generator's camera writes, as dcraw passes it on.
    EXPECT_EQ(developed.make, "Orrindale");
    EXPECT_EQ(developed.model, "Synthetic");
    EXPECT_FALSE(developed.dateTime.isEmpty());
    EXPECT_NEAR(developed.exposure, 1.0 / 64, 1e-9);
    EXPECT_NEAR(developed.aperture, 8.0, 1e-6);
    EXPECT_EQ(developed.iso, 100);
    EXPECT_NEAR(developed.focal, 35.0, 1e-6);

    GflBitmap image;
    readTiffRgb16(tiff, image);
    const QString out = writeOutput(tiff, image, 1.0, QStringLiteral("tags.tif"));
    const PlainTags written = plainTags(out);
    EXPECT_EQ(written.make, developed.make);
    EXPECT_EQ(written.model, developed.model);
    EXPECT_EQ(written.dateTime, developed.dateTime);
    EXPECT_EQ(written.software, "Orrindale " ORRINDALE_VERSION);
    EXPECT_EQ(written.description, "Blend of 5 frames 2 EV apart, gamma 1, colour, +0 EV");
    EXPECT_DOUBLE_EQ(written.exposure, developed.exposure);
    EXPECT_DOUBLE_EQ(written.aperture, developed.aperture);
    EXPECT_DOUBLE_EQ(written.focal, developed.focal);
    EXPECT_EQ(written.iso, developed.iso);

    GflBitmap back;
    readTiffRgb16(out, back);
    EXPECT_TRUE(back.pixels == image.pixels);
}

TEST_F(OutputProfileTest, TificcShowsTheSameGreyWhateverTheProfileAndGamma) {
    const QString tificc = QStandardPaths::findExecutable(QStringLiteral("tificc"));
    if (tificc.isEmpty()) GTEST_SKIP() << "tificc (liblcms2-utils) is not installed";

    struct Result {
        QString name;
        std::array<double, 3> grey, skin;
    };
    std::vector<Result> results;
    std::array<double, 3> linearGrey{};
    for (int profile : {1, 2}) {
        const QString tiff = develop(profile);
        GflBitmap developed;
        readTiffRgb16(tiff, developed);
        if (profile == 1)
            linearGrey =
                patchMean(developed, kGreyPatch[0], kGreyPatch[1], kGreyPatch[2], kGreyPatch[3]);
        for (double gamma : {1.0, 2.2}) {
            const QString name = QStringLiteral("%1_g%2")
                                     .arg(profile == 1 ? "sRGB" : "AdobeRGB")
                                     .arg(decimalForCommand(gamma));
            const QString file =
                writeOutput(tiff, encodeGamma(developed, gamma), gamma, name + ".tif");
            const GflBitmap srgb = toSrgbWithTificc(tificc, file, dir.filePath(name + "_sRGB.tif"));
            ASSERT_EQ(srgb.width, developed.width);
            results.push_back(
                {name, patchMean(srgb, kGreyPatch[0], kGreyPatch[1], kGreyPatch[2], kGreyPatch[3]),
                 patchMean(srgb, kSkinPatch[0], kSkinPatch[1], kSkinPatch[2], kSkinPatch[3])});
        }
    }
    ASSERT_EQ(results.size(), 4u);
    // The grey must be a usable mid-tone, not black or clipped, for the
    // comparison to mean anything.
    EXPECT_GT(linearGrey[1], 0.05 * 65535);
    EXPECT_LT(linearGrey[1], 0.9 * 65535);
    const Result& reference = results.front();  // sRGB, linear
    for (const Result& r : results) {
        SCOPED_TRACE(r.name.toStdString());
        for (int c = 0; c < 3; ++c) {
            RecordProperty((r.name + QStringLiteral("_grey%1").arg(c)).toStdString(),
                           QString::number(r.grey[c], 'f', 1).toStdString());
            EXPECT_NEAR(r.grey[c], reference.grey[c], 0.01 * reference.grey[c]) << "channel " << c;
            EXPECT_NEAR(r.skin[c], reference.skin[c], 0.01 * reference.skin[c]) << "channel " << c;
        }
    }
    // And it is the right grey: the developed sRGB value under the sRGB curve.
    for (int c = 0; c < 3; ++c) {
        const double want = 65535 * srgbEncode(linearGrey[c] / 65535);
        EXPECT_NEAR(reference.grey[c], want, 0.01 * want) << "channel " << c;
    }
}

}  // namespace
