// An aligned set through "Calc EV", "Build map" and the blend: what a moved
// frame did not see never reaches the exposure ratios, the map or the output.
#include "align/align.h"
#include "blend/blend.h"
#include "pipeline/blend_stage.h"
#include "pipeline/calc_ev.h"
#include "exposure/exposure_scan.h"
#include "maps/maps.h"
#include "pipeline/map_stage.h"
#include "support/recording_reporter.h"
#include "support/tiff_io.h"
#include "tests/common/blend_reference.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/shaken_sets.h"
#include "tests/common/test_images.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(AlignedScan, SamplesEitherImageDidNotCoverAreNoSamples) {
    const GflBitmap dark = bracketFrame(40, 30, 4, 1), bright = bracketFrame(40, 30, 8, 2);
    // The right half of the brighter frame was not covered; whatever it holds
    // must not count.
    CoveredRows half{std::vector<int32_t>(30, 0), std::vector<int32_t>(30, 20)};
    GflBitmap spoiled = bright;
    for (int y = 0; y < 30; ++y)
        for (int x = 20; x < 40; ++x) std::fill_n(spoiled.row(y) + x * 3, 3, uint16_t{30000});
    GflBitmap darkLeft = dark, brightLeft = bright;
    for (GflBitmap* b : {&darkLeft, &brightLeft})
        for (int y = 0; y < 30; ++y)
            for (int x = 20; x < 40; ++x) std::fill_n(b->row(y) + x * 3, 3, uint16_t{0});
    const PairMedian expected = scanPairMedian(darkLeft, brightLeft);
    const PairMedian got = scanPairMedian(dark, spoiled, nullptr, &half);
    EXPECT_EQ(got.count, expected.count);
    EXPECT_EQ(got.bins, expected.bins);
    EXPECT_EQ(scanPairAverage(dark, spoiled, &half, nullptr).sumBright,
              scanPairAverage(darkLeft, brightLeft).sumBright);
}

TEST(AlignedSet, TheStripAFarMovedFrameDidNotSeeIsBlendedFromTheOthers) {
    // Frames 1 EV apart; image 5 moved 15 pixels, so after alignment it does
    // not cover x < 15, where it would otherwise be the one chosen.
    const int width = 320, height = 160, shift = 15;  // within the 5 % a frame may move
    std::vector<GflBitmap> frames;
    for (int k = 0; k < 5; ++k)
        frames.push_back(texturedFrame(width, height, std::exp2(k),
                                       k == 4 ? moveFromDegrees(shift, 0, 0) : RigidMove(),
                                       static_cast<uint32_t>(20 + k)));
    QTemporaryDir dirA, dirB;
    const QString folderA = dirA.path() + "/", folderB = dirB.path() + "/";
    QStringList tiffs, raws;
    for (int k = 1; k <= 5; ++k) {
        tiffs << QString("IMG_%1.tiff").arg(k);
        raws << QString("IMG_%1.CR2").arg(k);
    }
    writeTiffSet(folderA, tiffs, frames);
    RecordingReporter rep;
    ImageSet a;
    ASSERT_EQ(calcularEV(folderA + raws[0], raws, false, AlignSettings{true}, a, rep), 1)
        << rep.log.toStdString();
    EXPECT_NEAR(a.ExpRelativas[4] / a.ExpRelativas[3], 0.5, 0.01) << rep.log.toStdString();
    for (int y = 1; y < height - 1; ++y)  // the first or last row may lie outside by a hair
        ASSERT_NEAR(a.Cobertura[4].begin[static_cast<size_t>(y)], shift, 1) << rep.log.toStdString();

    // The same four covering frames as a set of their own, as aligned.
    ImageSet b = diskSet(folderB, std::vector<GflBitmap>(a.ImagenesTIFF.begin(), a.ImagenesTIFF.begin() + 4));
    b.ExpRelativas.assign(a.ExpRelativas.begin(), a.ExpRelativas.begin() + 4);

    MapSettings plain;  // no borders: the map is the bare choice per pixel
    plain.progressive = 0;
    const ByteMap mapA = buildIndexMap(a, OptimizarUmbral(plain));
    const ByteMap mapB = buildIndexMap(b, OptimizarUmbral(plain));
    bool fifthUsed = false;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (x < shift - 1) {
                ASSERT_EQ(mapA.at(x, y), mapB.at(x, y)) << x << "," << y;
            }
            fifthUsed = fifthUsed || mapA.at(x, y) == 5;
        }
    EXPECT_TRUE(fifthUsed);  // where it covers, image 5 is taken

    auto blend = [&](ImageSet& set, const QString& folder) {
        BlendSettings s;
        s.gamma = 10;
        s.perfil = "sRGB";
        s.rutaMapa = GenerarMapa(folder + "IMG_1.CR2", plain, set, rep);
        EXPECT_EQ(FusionarImagenes(folder + "IMG_1.CR2", s, set, rep), 1) << rep.log.toStdString();
        GflBitmap out;
        readTiffRgb16(folder + QDir(folder).entryList({"OD*.tif"}, QDir::Files)[0], out);
        return out;
    };
    const GflBitmap outA = blend(a, folderA), outB = blend(b, folderB);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < shift - 1; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(outA.row(y)[x * 3 + c], outB.row(y)[x * 3 + c]) << x << "," << y;
}

TEST(AlignedSet, AlignToggledBetweenTwoCalcEvRuns) {
    const ShakenSet shaken = shakenBracket(192, 128, 3, 2, 3, 0.3, 30);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    writeTiffSet(folder, {"IMG_1.tiff", "IMG_2.tiff", "IMG_3.tiff"}, shaken.frames);
    const QStringList raws{"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2"};
    ImageSet set;
    for (const bool align : {true, false, true}) {
        RecordingReporter rep;
        ASSERT_EQ(calcularEV(folder + raws[0], raws, true, AlignSettings{align}, set, rep), 1);
        EXPECT_EQ(rep.log.contains("Aligning images..."), align);
        EXPECT_EQ(set.Cobertura.empty(), !align);
        // Off: the frames as on disk, every time.
        for (size_t k = 0; k < 3 && !align; ++k)
            EXPECT_EQ(set.ImagenesTIFF[k].pixels, shaken.frames[k].pixels);
    }
}

}  // namespace
