// Reading a developed file's ICC profile and building an output profile from
// it, checked by opening the results with LittleCMS directly.
#include "support/icc_profile.h"
#include "tests/common/output_file_checks.h"

#include <gtest/gtest.h>
#include <cmath>
#include <random>
#include <stdexcept>

namespace {

void expectXyzNear(const CieXyz& got, const cmsCIEXYZ& want, double tolerance) {
    EXPECT_NEAR(got.X, want.X, tolerance);
    EXPECT_NEAR(got.Y, want.Y, tolerance);
    EXPECT_NEAR(got.Z, want.Z, tolerance);
}
void expectXyzNear(const cmsCIEXYZ& got, const cmsCIEXYZ& want, double tolerance) {
    EXPECT_NEAR(got.X, want.X, tolerance);
    EXPECT_NEAR(got.Y, want.Y, tolerance);
    EXPECT_NEAR(got.Z, want.Z, tolerance);
}

const cmsCIEXYZ kD65{0.950455, 1.0, 1.089050};

TEST(IccProfileRead, DcrawStyleVersion2ProfileGivesItsColorantsAndWhite) {
    const std::optional<RgbColourSpace> colours = readRgbProfile(dcrawStyleSrgb());
    ASSERT_TRUE(colours);
    expectXyzNear(colours->red, {0.436081, 0.222504, 0.013931}, 2e-5);
    expectXyzNear(colours->green, {0.385086, 0.716888, 0.097092}, 2e-5);
    expectXyzNear(colours->blue, {0.143051, 0.060608, 0.714020}, 2e-5);
    // Version 2 keeps the white itself in wtpt.
    expectXyzNear(colours->white, kD65, 2e-5);
    EXPECT_EQ(colours->name, "test v2");
}

TEST(IccProfileRead, Version4WhiteComesFromTheAdaptationTag) {
    const QByteArray srgb = builtInSrgb();
    const LcmsProfile p = openProfile(srgb);
    ASSERT_TRUE(p);
    ASSERT_TRUE(chadTag(p.get()));  // wtpt is D50 here; only chad tells the white
    const std::optional<RgbColourSpace> colours = readRgbProfile(srgb);
    ASSERT_TRUE(colours);
    // The sRGB white, D65 (x 0.3127, y 0.3290).
    const double sum = colours->white.X + colours->white.Y + colours->white.Z;
    EXPECT_NEAR(colours->white.X / sum, 0.3127, 1e-4);
    EXPECT_NEAR(colours->white.Y / sum, 0.3290, 1e-4);
    EXPECT_NEAR(colours->white.Y, 1.0, 1e-4);
    expectXyzNear(colours->red, *xyzTag(p.get(), cmsSigRedColorantTag), 1e-9);
}

TEST(IccProfileRead, TheXyzLabelledMatrixShaperOfDcrawIsAccepted) {
    // dcraw's "CIE XYZ" output: three channels, colorants and curves, but the
    // XYZ colour space in the header.
    const QByteArray xyz =
        version2Profile({1.047836, 0.029556, -0.009216}, {0.022903, 0.990479, 0.015045},
                        {-0.050125, -0.017044, 0.752029}, kD65, cmsSigXYZData);
    const std::optional<RgbColourSpace> colours = readRgbProfile(xyz);
    ASSERT_TRUE(colours);
    expectXyzNear(colours->blue, {-0.050125, -0.017044, 0.752029}, 2e-5);
}

TEST(IccProfileRead, AnythingButAThreeChannelMatrixShaperGivesNothing) {
    const QByteArray good = dcrawStyleSrgb();
    ASSERT_TRUE(readRgbProfile(good));
    EXPECT_FALSE(readRgbProfile(QByteArray()));
    EXPECT_FALSE(readRgbProfile(QByteArray(500, 'x')));
    EXPECT_FALSE(readRgbProfile(greyProfile())) << "grey";
    EXPECT_FALSE(readRgbProfile(labProfile())) << "Lab";
    for (cmsTagSignature tag :
         {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag, cmsSigRedTRCTag}) {
        SCOPED_TRACE(static_cast<unsigned>(tag));
        const QByteArray damaged = withDamagedTag(good, tag);
        ASSERT_NE(damaged, good);
        EXPECT_FALSE(readRgbProfile(damaged));
    }
    QByteArray badMagic = good;
    badMagic[36] = 'X';  // "acsp" is what makes the bytes a profile
    EXPECT_FALSE(readRgbProfile(badMagic));
    const QByteArray flat = version2Profile({0, 0, 0}, {0, 0, 0}, {0, 0, 0}, kD65);
    EXPECT_FALSE(readRgbProfile(flat)) << "singular primaries";
    const QByteArray darkWhite =
        version2Profile({0.436081, 0.222504, 0.013931}, {0.385086, 0.716888, 0.097092},
                        {0.143051, 0.060608, 0.714020}, {0, 0, 0});
    EXPECT_FALSE(readRgbProfile(darkWhite)) << "white without luminance";
}

TEST(IccProfileRead, EveryTruncationGivesNothingAndNeverThrows) {
    const QByteArray good = dcrawStyleSrgb();
    for (qsizetype size = 0; size < good.size(); ++size) {
        SCOPED_TRACE(size);
        EXPECT_FALSE(readRgbProfile(good.left(size)));
    }
}

TEST(IccProfileRead, RandomDamageNeverThrows) {
    const QByteArray good = dcrawStyleSrgb();
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes = good;
        for (int k = 0; k < 8; ++k)
            bytes[static_cast<qsizetype>(rng() % bytes.size())] = static_cast<char>(rng());
        const std::optional<RgbColourSpace> colours = readRgbProfile(bytes);
        if (colours) {  // damage that missed every tag we use is harmless
            EXPECT_TRUE(std::isfinite(colours->white.Y));
            EXPECT_GT(colours->white.Y, 0);
        }
    }
}

class OutputProfile : public ::testing::TestWithParam<int> {};

TEST_P(OutputProfile, KeepsThePrimariesAndWhiteWithAPowerCurve) {
    const double gamma = GetParam() / 10.0;
    const QByteArray source = dcrawStyleSrgb();
    const std::optional<RgbColourSpace> colours = readRgbProfile(source);
    ASSERT_TRUE(colours);
    const QByteArray built = buildOutputProfile(colours, gamma);
    ASSERT_FALSE(built.isEmpty());

    const LcmsProfile in = openProfile(source), out = openProfile(built);
    ASSERT_TRUE(in && out);
    EXPECT_EQ(cmsGetColorSpace(out.get()), cmsSigRgbData);
    EXPECT_EQ(cmsGetPCS(out.get()), cmsSigXYZData);
    EXPECT_EQ(cmsGetDeviceClass(out.get()), cmsSigDisplayClass);
    EXPECT_GE(cmsGetProfileVersion(out.get()), 4.0);
    EXPECT_TRUE(cmsIsMatrixShaper(out.get()));
    for (cmsTagSignature tag :
         {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
        const auto a = xyzTag(in.get(), tag), b = xyzTag(out.get(), tag);
        ASSERT_TRUE(a && b);
        expectXyzNear(*b, *a, 1e-9);  // verbatim
    }
    // Version 4: wtpt holds D50 and chad takes the real white there.
    const auto white = xyzTag(out.get(), cmsSigMediaWhitePointTag);
    const auto chad = chadTag(out.get());
    ASSERT_TRUE(white && chad);
    expectXyzNear(*white, *cmsD50_XYZ(), 1e-4);
    expectXyzNear(times(*chad, *xyzTag(in.get(), cmsSigMediaWhitePointTag)), *cmsD50_XYZ(), 1e-4);

    for (cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag})
        for (double e : {0.0, 0.01, 0.18, 0.5, 0.9, 1.0})
            EXPECT_NEAR(curveAt(out.get(), tag, e), std::pow(e, gamma), 1e-4) << e;

    char name[256] = {};
    cmsGetProfileInfoASCII(out.get(), cmsInfoDescription, "en", "US", name, sizeof name);
    EXPECT_EQ(QString::fromLatin1(name),
              QStringLiteral("test v2, gamma ") + QString::number(gamma));

    // The output profile is itself a good input: a blend of blends keeps it.
    const std::optional<RgbColourSpace> again = readRgbProfile(built);
    ASSERT_TRUE(again);
    expectXyzNear(again->white, kD65, 1e-4);
    expectXyzNear(again->red, *xyzTag(in.get(), cmsSigRedColorantTag), 1e-9);
}

// Every gamma of the output control, 1.0 to 3.0 in tenths.
INSTANTIATE_TEST_SUITE_P(GammaTenths, OutputProfile, ::testing::Range(10, 31));

TEST(OutputProfileBuild, GammaTwoPointTwoIsNotRoundedToAQuarterOfAPercent) {
    // A version 2 curve would store 563/256 = 2.19921875: 0.5 would map
    // 1.2e-4 too high.
    const QByteArray built = buildOutputProfile(readRgbProfile(dcrawStyleSrgb()), 2.2);
    const LcmsProfile out = openProfile(built);
    ASSERT_TRUE(out);
    EXPECT_NEAR(curveAt(out.get(), cmsSigGreenTRCTag, 0.5), std::pow(0.5, 2.2), 1e-5);
}

TEST(OutputProfileBuild, NoSourceProfileGivesNoOutputProfile) {
    EXPECT_TRUE(buildOutputProfile(std::nullopt, 2.2).isEmpty());
    EXPECT_TRUE(buildOutputProfile(std::nullopt, 1.0).isEmpty());
}

TEST(OutputProfileBuild, GammaOutsideItsRangeIsAProgrammingError) {
    const auto colours = readRgbProfile(dcrawStyleSrgb());
    EXPECT_THROW(buildOutputProfile(colours, 0.0), std::invalid_argument);
    EXPECT_THROW(buildOutputProfile(colours, -2.2), std::invalid_argument);
    EXPECT_THROW(buildOutputProfile(colours, std::nan("")), std::invalid_argument);
    EXPECT_THROW(buildOutputProfile(colours, 11.0), std::invalid_argument);
}

TEST(OutputProfileBuild, XyzLabelledSourceGivesAnRgbProfile) {
    // The output pixels are an RGB TIFF: its profile must say RGB, or editors
    // refuse it.
    const QByteArray xyz =
        version2Profile({1.047836, 0.029556, -0.009216}, {0.022903, 0.990479, 0.015045},
                        {-0.050125, -0.017044, 0.752029}, kD65, cmsSigXYZData);
    const LcmsProfile out = openProfile(buildOutputProfile(readRgbProfile(xyz), 2.2));
    ASSERT_TRUE(out);
    EXPECT_EQ(cmsGetColorSpace(out.get()), cmsSigRgbData);
    expectXyzNear(*xyzTag(out.get(), cmsSigBlueColorantTag), {-0.050125, -0.017044, 0.752029},
                  2e-5);
}

}  // namespace
