// The viewer's arithmetic: zooms keep the pixel under the anchor at any
// scale and place, the wheel passes through 50 %, 100 % and 200 % from any
// start, and a picture is kept in view.
#include "support/view_placement.h"

#include <gtest/gtest.h>
#include <random>

namespace {

TEST(ViewPlacement, ZoomsKeepThePixelUnderTheAnchor) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> any(0, 1);
    for (int i = 0; i < 2000; ++i) {
        const ViewPlacement before{std::exp2(8 * any(rng) - 4),
                                   QPointF(-5000 * any(rng), -3000 * any(rng))};
        const QPointF anchor(1500 * any(rng), 800 * any(rng));
        const double scale = std::exp2(8 * any(rng) - 4);
        ASSERT_EQ(zoomedAbout(before, scale, anchor).pixelAt(anchor), before.pixelAt(anchor)) << i;
    }
}

TEST(ViewPlacement, TheWheelStepsThroughWholeZoomsFromAnyStart) {
    const struct {
        double from;
        int steps;
        double to;
    } turns[] = {{0.37, 2, 0.5}, {0.5, 4, 1},   {1, 4, 2},   {1, -4, 0.5},
                 {0.99, 1, 1},   {1.01, -1, 1}, {12, 9, 16}, {0.3, -20, 0.1}};
    for (const auto& t : turns)
        EXPECT_DOUBLE_EQ(wheelScale(t.from, t.steps, 0.1), t.to) << t.from << " " << t.steps;
}

TEST(ViewPlacement, PicturesStayInView) {
    const QSize view(1000, 600);
    // Fitted, never above 100 %, centred.
    EXPECT_DOUBLE_EQ(fitScale(QSize(4000, 1000), view), 0.25);
    EXPECT_DOUBLE_EQ(fitScale(QSize(300, 200), view), 1);
    EXPECT_EQ(fitted(QSize(300, 200), view).origin,
              QPointF(350.5, 200.5));  // about the middle pixel's centre
    // Panned far away, the middle of the view comes back over the picture;
    // a picture narrower than the view is centred across it.
    const ViewPlacement far = clamped({1, QPointF(-90000, 5000)}, QSize(4000, 500), view);
    EXPECT_EQ(far.origin, QPointF(500 - 4000, 50));
}

}  // namespace
