// Alignment of handheld brackets: the moves found against the true ones, the
// resampling against a plain per-pixel reading and its two forms against each
// other, and frames that cannot be aligned.
#include "align/align.h"
#include "align/resample_forms.h"
#include "pipeline/calc_ev.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/shaken_sets.h"
#include "tests/common/test_images.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <cmath>
#include <random>

namespace {

std::vector<const GflBitmap*> pointers(const std::vector<GflBitmap>& frames) {
    std::vector<const GflBitmap*> images;
    for (const GflBitmap& f : frames) images.push_back(&f);
    return images;
}

struct AccuracyCase {
    int count;
    double stepEv;
    double shiftShare;  // of the width
    double degrees;
    uint32_t seed;
};

class MoveAccuracy : public ::testing::TestWithParam<AccuracyCase> {};

TEST_P(MoveAccuracy, EveryFrameLandsWithinATenthOfAPixelAtTheCorners) {
    const AccuracyCase c = GetParam();
    const int width = 384, height = 256;
    const ShakenSet set =
        shakenBracket(width, height, c.count, c.stepEv, c.shiftShare * width, c.degrees, c.seed);
    const std::vector<FrameAlignment> found = estimateMoves(pointers(set.frames));
    ASSERT_EQ(found.size(), set.frames.size());
    EXPECT_TRUE(found[0].aligned);
    EXPECT_EQ(cornerShift(found[0].move, width, height), 0.0);
    for (size_t k = 1; k < found.size(); ++k) {
        ASSERT_TRUE(found[k].aligned) << "image " << k + 1;
        EXPECT_LT(cornerDistance(found[k].move, set.moves[k], width, height), 0.1)
            << "image " << k + 1 << ": true " << set.moves[k].dx << " " << set.moves[k].dy << " "
            << set.moves[k].degrees() << ", found " << found[k].move.dx << " "
            << found[k].move.dy << " " << found[k].move.degrees();
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, MoveAccuracy,
                         ::testing::Values(AccuracyCase{2, 2, 0.02, 1, 1},
                                           AccuracyCase{2, 1, 0.005, 0.1, 2},
                                           AccuracyCase{5, 2, 0.02, 1, 3},
                                           AccuracyCase{5, 1, 0.02, 1, 4},
                                           AccuracyCase{10, 1, 0.02, 1, 5},
                                           AccuracyCase{3, 1, 0.0, 0.0, 6}));  // a tripod

TEST(AlignEstimate, SameMovesWhateverTheThreadCount) {
    const ShakenSet set = shakenBracket(256, 192, 4, 1, 5, 0.5, 7);
    setParallelThreads(1);
    const std::vector<FrameAlignment> one = estimateMoves(pointers(set.frames));
    setParallelThreads(3);
    const std::vector<FrameAlignment> three = estimateMoves(pointers(set.frames));
    setParallelThreads(0);
    for (size_t k = 0; k < one.size(); ++k) {
        EXPECT_EQ(one[k].aligned, three[k].aligned);
        EXPECT_EQ(one[k].move.dx, three[k].move.dx);
        EXPECT_EQ(one[k].move.dy, three[k].move.dy);
        EXPECT_EQ(one[k].move.angle, three[k].move.angle);
    }
}

TEST(AlignEstimate, AFlatFrameIsLeftAsShotAndTheChainGoesOnPastIt) {
    ShakenSet set = shakenBracket(256, 192, 4, 1, 4, 0.5, 8);
    set.frames[2] = uniformBitmap(256, 192, 9000, 9000, 9000);  // nothing to match
    const std::vector<FrameAlignment> found = estimateMoves(pointers(set.frames));
    EXPECT_TRUE(found[1].aligned);
    EXPECT_FALSE(found[2].aligned);
    ASSERT_TRUE(found[3].aligned);  // matched against image 2
    EXPECT_LT(cornerDistance(found[3].move, set.moves[3], 256, 192), 0.1);
}

TEST(AlignEstimate, FramesTooSmallOrTooFarAreNotAligned) {
    // One pixel wide: nothing to match, and nothing may break.
    const std::vector<GflBitmap> thin{bracketFrame(1, 40, 1, 1), bracketFrame(1, 40, 2, 2)};
    EXPECT_FALSE(estimateMoves(pointers(thin))[1].aligned);
    // A turn beyond the 3 degrees a handheld frame may take.
    const std::vector<GflBitmap> turned{texturedFrame(256, 192, 1, RigidMove(), 1),
                                        texturedFrame(256, 192, 2, moveFromDegrees(0, 0, 4.5), 2)};
    EXPECT_FALSE(estimateMoves(pointers(turned))[1].aligned);
}

// Output pixel (x, y) as the resampler defines it, one pixel at a time: the
// source position, the four source columns around it each read down the line
// of the row at that column, and the cubic along the row, each clamped to its
// two middle samples.
std::array<int, 3> referencePixel(const GflBitmap& in, const RigidMove& move, int x, int y) {
    const auto a = affineOf(inverse(move), in.width, in.height);
    const double sx = a[0] * x + a[1] * y + a[2], sy = a[3] * x + a[4] * y + a[5];
    if (!(sx >= 0 && sx <= in.width - 1 && sy >= 0 && sy <= in.height - 1)) return {0, 0, 0};
    auto weights = [](double s, int size, int& whole) {
        whole = std::min(static_cast<int>(s), size - 2);
        const int phase = static_cast<int>(static_cast<float>(s - whole) * 1024 + 0.5f);
        const float t = phase / 1024.0f, t2 = t * t, t3 = t2 * t;
        return std::array<float, 4>{(-t3 + 2 * t2 - t) * 0.5f, (3 * t3 - 5 * t2 + 2) * 0.5f,
                                    (-3 * t3 + 4 * t2 + t) * 0.5f, (t3 - t2) * 0.5f};
    };
    auto cubic = [](const std::array<float, 4>& w, const float v[4]) {
        const float sum = w[0] * v[0] + w[1] * v[1] + w[2] * v[2] + w[3] * v[3];
        return std::min(std::max(sum, std::min(v[1], v[2])), std::max(v[1], v[2]));
    };
    const double slope = a[3] / a[0], offset = a[4] * y + a[5] - slope * (a[1] * y + a[2]);
    int iu = 0;
    const auto wx = weights(sx, in.width, iu);
    std::array<int, 3> out{};
    for (int c = 0; c < 3; ++c) {
        float column[4];
        for (int j = 0; j < 4; ++j) {
            const int u = std::clamp(iu - 1 + j, 0, in.width - 1);
            int iv = 0;
            const auto wy = weights(std::clamp(slope * u + offset, 0.0, in.height - 1.0), in.height, iv);
            float v[4];
            for (int i = 0; i < 4; ++i)
                v[i] = in.row(std::clamp(iv - 1 + i, 0, in.height - 1))[u * 3 + c];
            column[j] = cubic(wy, v);
        }
        out[static_cast<size_t>(c)] = static_cast<int>(std::nearbyint(cubic(wx, column)));
    }
    return out;
}

TEST(Resample, MatchesThePixelByPixelReadingOnRandomFramesAndMoves) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int trial = 0; trial < 6; ++trial) {
        // Tall enough for several chunks of rows, so rows read after they
        // were overwritten come from the ring.
        const int width = 40 + trial * 17, height = 150 + trial * 13;
        const GflBitmap in = randomBitmap(width, height, static_cast<uint32_t>(trial));
        // Large turns, and small ones whose rows read long runs alike.
        const double turn = trial % 2 ? 3 : 0.05;
        const RigidMove move = moveFromDegrees(12 * unit(rng), 12 * unit(rng), turn * unit(rng));
        GflBitmap out = in;
        CoveredRows covered;
        setParallelThreads(trial % 3 + 1);
        resampleInPlace(out, move, covered);
        setParallelThreads(0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const auto expected = referencePixel(in, move, x, y);
                const uint16_t* p = out.row(y) + x * 3;
                ASSERT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), expected)
                    << "trial " << trial << " at " << x << "," << y;
                const auto a = affineOf(inverse(move), width, height);
                const double sx = a[0] * x + a[1] * y + a[2], sy = a[3] * x + a[4] * y + a[5];
                ASSERT_EQ(covered.covers(x, y), sx >= 0 && sx <= width - 1 && sy >= 0 && sy <= height - 1);
            }
    }
}

// Both forms, on one thread and on several, to the same bytes and to the
// per-pixel reading. A build without SSE2 holds the plain form to the reading.
TEST(Resample, PlainAndSse2FormsGiveTheSameBytes) {
    struct Case {
        int width, height;
        double dx, dy, degrees;
    };
    const Case cases[] = {
        {40, 150, 3, -2, 0},             // whole pixels: copies
        {37, 70, -7, 0, 0},              // an odd width
        {41, 66, 0.0003, -0.0004, 0},    // under half a phase: copies
        {33, 130, 0.0007, 0.3, 0.0004},  // runs that change phase along the row
        {55, 97, 4.6, -3.3, 2.9},        // a large turn
        {17, 200, -11.2, 8.9, -2.5},     // several chunks of rows
        {2, 75, 0.3, 0.7, 0.5},          // the narrowest frame interpolated
        {63, 2, -0.4, 0.2, -0.1},        // two rows
        {1, 9, 0, 1, 0},                 // nothing to interpolate between
        {5, 5, 0.5, 0.5, 1},             // more border than inside
    };
    std::mt19937 rng(29);
    std::uniform_int_distribution<int> any(0, 65535), pick(0, 9);
    for (const Case& c : cases) {
        // Random samples, a fifth of them black or clipped.
        const GflBitmap in = makeBitmap(c.width, c.height, [&](int, int, int) {
            const int p = pick(rng);
            return p == 0 ? 0 : p == 1 ? 65535 : any(rng);
        });
        const RigidMove move = moveFromDegrees(c.dx, c.dy, c.degrees);
        std::vector<GflBitmap> outs;
        for (const ResampleForm form : {ResampleForm::Plain, ResampleForm::Sse2})
            for (const int threads : {1, 3}) {
                outs.push_back(in);
                CoveredRows covered;
                setParallelThreads(threads);
                resampleInPlace(outs.back(), move, covered, form);
                setParallelThreads(0);
            }
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " move " << c.dx << " "
                                        << c.dy << " " << c.degrees);
        for (size_t i = 1; i < outs.size(); ++i) ASSERT_EQ(outs[i].pixels, outs[0].pixels) << i;
        if (c.width < 2 || c.height < 2) continue;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const uint16_t* p = outs[0].row(y) + x * 3;
                ASSERT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), referencePixel(in, move, x, y))
                    << x << "," << y;
            }
    }
}

TEST(Resample, AWholePixelShiftCopiesTheSamplesExactly) {
    const GflBitmap in = randomBitmap(50, 40, 3);
    for (const auto& [dx, dy] : {std::pair{3, -2}, {-7, 0}, {0, 5}}) {
        GflBitmap out = in;
        CoveredRows covered;
        resampleInPlace(out, moveFromDegrees(dx, dy, 0), covered);
        // The frame shows at (x, y) what image 1 shows at (x + dx, y + dy): in
        // image 1's geometry, pixel (x, y) comes from (x - dx, y - dy).
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 50; ++x) {
                const int sx = x - dx, sy = y - dy;
                const bool inside = sx >= 0 && sx < 50 && sy >= 0 && sy < 40;
                ASSERT_EQ(covered.covers(x, y), inside);
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(out.row(y)[x * 3 + c], inside ? in.row(sy)[sx * 3 + c] : 0);
            }
    }
}

TEST(Resample, NoRingingBesideAClippedHighlight) {
    // A clipped disc on a flat ground: resampled by a fraction of a pixel,
    // nothing may fall below the ground or rise above the highlight.
    const GflBitmap in = makeBitmap(60, 60, [](int x, int y, int) {
        return std::hypot(x - 30, y - 30) < 12 ? 65535 : 20000;
    });
    GflBitmap out = in;
    CoveredRows covered;
    resampleInPlace(out, moveFromDegrees(0.37, -0.61, 0.8), covered);
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 60; ++x) {
            if (!covered.covers(x, y)) continue;
            for (int c = 0; c < 3; ++c) ASSERT_GE(out.row(y)[x * 3 + c], 20000) << x << "," << y;
        }
    }
}

TEST(FillUncovered, TakesThePreviousImageAtThisExposureCappedAtFullScale) {
    ImageSet set;
    set.ImagenesTIFF = {uniformBitmap(4, 2, 1000, 30000, 50000), uniformBitmap(4, 2, 7, 7, 7)};
    set.ArchivosTIFF = {"/a/IMG_1.tiff", "/a/IMG_2.tiff"};
    set.AnchoImagen = 4;
    set.AltoImagen = 2;
    set.TIFFsCargados = true;
    set.ExpRelativas = {1.0, 0.5};
    set.Cobertura = {CoveredRows(), CoveredRows{{1, 0}, {3, 0}}};  // row 0: x 1..2 covered
    fillUncovered(set);
    const GflBitmap& b = set.ImagenesTIFF[1];
    EXPECT_EQ((std::vector<uint16_t>(b.row(0), b.row(0) + 12)),
              (std::vector<uint16_t>{2000, 60000, 65535, 7, 7, 7, 7, 7, 7, 2000, 60000, 65535}));
    EXPECT_EQ(b.row(1)[3], 2000);  // a row with nothing covered
}

TEST(AlignImages, StatusLinesAndAWarningPerFrameLeftAsShot) {
    ShakenSet shaken = shakenBracket(256, 192, 3, 1, 4, 0.5, 12);
    shaken.frames[2] = uniformBitmap(256, 192, 9000, 9000, 9000);
    ImageSet set;
    set.ImagenesTIFF = shaken.frames;
    set.ArchivosTIFF = {"/s/IMG_0001.tiff", "/s/IMG_0002.tiff", "/s/IMG_0003.tiff"};
    set.AnchoImagen = 256;
    set.AltoImagen = 192;
    set.TIFFsCargados = true;
    RecordingReporter rep;
    ASSERT_TRUE(alignImages(AlignSettings{true}, set, rep));
    const QStringList lines = rep.log.split("\r\n");
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "Aligning images...");
    EXPECT_TRUE(QRegularExpression(R"(^IMG_0002\.tiff: shift [+-]\d+\.\d\d [+-]\d+\.\d\d px, rotation [+-]\d\.\d\d\d deg$)")
                    .match(lines[2])
                    .hasMatch())
        << lines[2].toStdString();
    EXPECT_EQ(lines[3], "IMG_0003.tiff: could not be aligned, used as shot");
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_EQ(rep.boxes[0].title, "WARNING");
    EXPECT_EQ(rep.boxes[0].text, "IMG_0003.tiff: could not be aligned, used as shot");
    EXPECT_FALSE(set.Cobertura[1].all());  // moved, so its border is not covered
    EXPECT_TRUE(set.Cobertura[2].all());   // as shot
    EXPECT_EQ(set.ImagenesTIFF[2].pixels, shaken.frames[2].pixels);
}

}  // namespace
