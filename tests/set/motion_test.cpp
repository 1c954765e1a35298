// Moving areas: the mask clean-up against literal readings on random masks,
// and the detection on still and moving brackets made in memory.
#include "set/motion.h"
#include "set/area_mask.h"
#include "support/parallel.h"
#include "tests/common/map_reference.h"
#include "tests/common/moving_sets.h"

#include <gtest/gtest.h>
#include <random>

namespace {

AreaMask randomMask(int w, int h, double share, uint32_t seed) {
    std::mt19937 rng(seed);
    std::bernoulli_distribution on(share);
    AreaMask m(w, h);
    for (uint8_t& v : m.on) v = on(rng) ? 1 : 0;
    return m;
}

// Sample by sample over the disc; outside the rectangle counts as `outside`.
AreaMask literalDisc(const AreaMask& m, int r, bool grow) {
    AreaMask out(m.width, m.height);
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            bool any = false, all = true;
            for (int b = -r; b <= r; ++b)
                for (int a = -r; a <= r; ++a) {
                    if (a * a + b * b > r * r) continue;
                    const int u = x + a, v = y + b;
                    const bool in = u >= 0 && v >= 0 && u < m.width && v < m.height;
                    const bool value = in ? m.at(u, v) != 0 : !grow;
                    any = any || value;
                    all = all && value;
                }
            out.on[static_cast<size_t>(y) * m.width + x] = grow ? any : all;
        }
    return out;
}

// Flood fill from each unnumbered sample, row by row.
AreaPieces literalPieces(const AreaMask& m) {
    AreaPieces p;
    p.label.assign(m.on.size(), 0);
    for (size_t start = 0; start < m.on.size(); ++start) {
        if (!m.on[start] || p.label[start]) continue;
        p.size.push_back(0);
        std::vector<size_t> todo{start};
        p.label[start] = static_cast<uint32_t>(p.size.size());
        while (!todo.empty()) {
            const size_t i = todo.back();
            todo.pop_back();
            ++p.size.back();
            const int x = static_cast<int>(i % m.width), y = static_cast<int>(i / m.width);
            for (int b = -1; b <= 1; ++b)
                for (int a = -1; a <= 1; ++a) {
                    const int u = x + a, v = y + b;
                    if (u < 0 || v < 0 || u >= m.width || v >= m.height) continue;
                    const size_t j = static_cast<size_t>(v) * m.width + u;
                    if (m.on[j] && !p.label[j]) {
                        p.label[j] = p.label[start];
                        todo.push_back(j);
                    }
                }
        }
    }
    return p;
}

TEST(AreaMask, GrowShrinkAndPiecesMatchLiteralReadings) {
    struct Case {
        int w, h, r;
        double share;
    };
    const Case cases[] = {{37, 23, 1, 0.05}, {40, 31, 2, 0.3},   {64, 9, 3, 0.5},
                          {19, 50, 7, 0.02}, {33, 33, 16, 0.01}, {5, 4, 30, 0.2}};
    uint32_t seed = 1;
    for (const Case& c : cases)
        for (int threads : {1, 3}) {
            setParallelThreads(threads);
            SCOPED_TRACE(testing::Message()
                         << c.w << "x" << c.h << " r=" << c.r << " threads=" << threads);
            const AreaMask m = randomMask(c.w, c.h, c.share, seed++);
            AreaMask grown = m, shrunk = m;
            dilateArea(grown, c.r);
            erodeArea(shrunk, c.r);
            EXPECT_EQ(grown.on, literalDisc(m, c.r, true).on);
            EXPECT_EQ(shrunk.on, literalDisc(m, c.r, false).on);
            const AreaPieces fast = areaPieces(m), literal = literalPieces(m);
            EXPECT_EQ(fast.label, literal.label);
            EXPECT_EQ(fast.size, literal.size);
        }
    setParallelThreads(0);
}

FrameSet frameSet(std::vector<GflBitmap> frames, double gap) {
    return memorySet(QStringLiteral("/x/"), std::move(frames), gap);
}

MotionAreas detect(const FrameSet& set, int reference = 0) {
    MotionSettings s;
    s.reference = reference;
    return detectMotion(set, measureWeightedModel(set), s);
}

TEST(Motion, StillSetsHaveNoMovingArea) {
    // Halves, flat and noisy, two frames, one stop apart, a subject standing.
    const MovingScene scenes[] = {{},
                                  {.left = 900, .right = 900},
                                  {.count = 2},
                                  {.count = 7, .gap = 2},
                                  {.x = 70, .y = 40, .w = 30, .h = 30}};
    for (const MovingScene& scene : scenes)
        for (uint32_t seed : {1u, 2u, 3u}) {
            MovingScene s = scene;
            s.seed = seed;
            const MotionAreas areas = detect(frameSet(movingFrames(s), s.gap));
            EXPECT_TRUE(areas.none())
                << &scene - scenes << " seed " << seed << ": " << areas.samples;
        }
}

// Over the edge between the halves, 20 pixels a frame, unclipped in every frame;
// the same areas whatever the thread count.
TEST(Motion, ASubjectCrossingTheEdgeIsOneAreaTakenFromOneFrame) {
    const MovingScene scene{.x = 50, .y = 40, .w = 24, .h = 30, .dx = 20, .subject = 120};
    const FrameSet set = frameSet(movingFrames(scene), scene.gap);
    setParallelThreads(1);
    const MotionAreas areas = detect(set);
    for (int threads : {2, 5}) {
        setParallelThreads(threads);
        const MotionAreas again = detect(set);
        EXPECT_TRUE(again.label == areas.label && again.agree == areas.agree &&
                    again.references == areas.references)
            << threads << " threads";
    }
    setParallelThreads(0);
    ASSERT_EQ(areas.references.size(), 1u) << areas.samples;
    // Every position of the subject is inside, with its rim, and little else.
    for (int k = 0; k < scene.count; ++k)
        for (int y = scene.y; y < scene.y + scene.h; ++y)
            for (int x = scene.x + k * scene.dx; x < scene.x + k * scene.dx + scene.w; ++x)
                ASSERT_EQ(areas.areaAt(x, y), 1) << x << "," << y;
    EXPECT_LE(areas.samples, (scene.w + 4 * scene.dx + 16) * (scene.h + 16));
    // Where the reference shows the subject no other frame does; where it
    // shows the ground the others that do too agree.
    const int r = areas.references[0];
    const int subjectX = scene.x + (r - 1) * scene.dx + scene.w / 2, y = scene.y + scene.h / 2;
    EXPECT_EQ(areas.allowedAt(subjectX, y), 1u << (r - 1));
    const int emptyX = scene.x + (r == 1 ? 4 : 0) * scene.dx + scene.w / 2;
    EXPECT_NE(areas.allowedAt(emptyX, y) & ~(1u << (r - 1)), 0u);
    EXPECT_EQ(areas.allowedAt(2, 2), 0u);
    // A forced reference stands for every area.
    EXPECT_EQ(detect(set, 2).references, std::vector<int>{2});
}

}  // namespace
