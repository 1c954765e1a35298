// Alignment of handheld brackets: the moves found against the true ones.
#include "align/align.h"
#include "tests/common/shaken_sets.h"

#include <gtest/gtest.h>
#include <chrono>

namespace {

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
    std::vector<const GflBitmap*> images;
    for (const GflBitmap& f : set.frames) images.push_back(&f);
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<FrameAlignment> found = estimateMoves(images);
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_EQ(found.size(), set.frames.size());
    for (size_t k = 1; k < found.size(); ++k) {
        ASSERT_TRUE(found[k].aligned) << "image " << k + 1;
        const double err = cornerDistance(found[k].move, set.moves[k], width, height);
        printf("k=%zu err=%.4f true=(%.3f %.3f %.4f) got=(%.3f %.3f %.4f)\n", k + 1, err,
               set.moves[k].dx, set.moves[k].dy, set.moves[k].degrees(), found[k].move.dx,
               found[k].move.dy, found[k].move.degrees());
        EXPECT_LT(err, 0.1) << "image " << k + 1;
    }
    printf("%.3f s\n", secs);
}

INSTANTIATE_TEST_SUITE_P(Sets, MoveAccuracy,
                         ::testing::Values(AccuracyCase{2, 2, 0.02, 1, 1},
                                           AccuracyCase{5, 2, 0.02, 1, 2},
                                           AccuracyCase{5, 1, 0.02, 1, 3},
                                           AccuracyCase{10, 1, 0.02, 1, 4}));

}  // namespace
