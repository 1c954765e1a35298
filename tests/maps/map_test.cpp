// The blending map: thresholds, index map, disc shapes, the fast border
// stages against the literal ones, the decoding table, and whole builds with
// their log and map file.
#include "maps/maps.h"
#include "pipeline/map_stage.h"
#include "support/errors.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"
#include "tests/common/child_process.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/map_reference.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>

namespace {

MapSettings multipliers(const char* r, const char* g, const char* b, int th = 90) {
    MapSettings s;
    s.umbral = th;
    s.balanceCamara = false;
    s.txtWB = {QString::fromLatin1(r), QString::fromLatin1(g), QString::fromLatin1(b)};
    return s;
}

MapSettings camera(int th) {
    MapSettings s;
    s.umbral = th;
    return s;
}

ByteMap filled(int w, int h, int k) {
    ByteMap m;
    m.width = w;
    m.height = h;
    m.data.assign(static_cast<size_t>(w) * h, static_cast<uint8_t>(k));
    return m;
}

std::vector<int> row(const ByteMap& m, int y) {
    std::vector<int> v;
    for (int x = 0; x < m.width; ++x) v.push_back(m.at(x, y));
    return v;
}

TEST(Thresholds, FollowTheSliderAndTheMultipliers) {
    using T = std::array<int32_t, 3>;
    EXPECT_EQ(OptimizarUmbral(camera(90)), (T{58982, 58982, 58982}));  // 58981.5 to even
    EXPECT_EQ(OptimizarUmbral(multipliers("2.0", "1.0", "0.5")), (T{65279, 58982, 29491}));
    EXPECT_EQ(OptimizarUmbral(camera(99)), (T{64880, 64880, 64880}));
    EXPECT_EQ(OptimizarUmbral(camera(50)), (T{32768, 32768, 32768}));
    EXPECT_EQ(OptimizarUmbral(camera(0)), (T{0, 0, 0}));
    // A multiplier far beyond the cap neither overflows nor wraps.
    EXPECT_EQ(OptimizarUmbral(multipliers("1e12", "1", "1")), (T{65279, 58982, 58982}));
    // Camera white balance ignores whatever the boxes hold.
    MapSettings s = multipliers("junk", "", "x");
    s.balanceCamara = true;
    EXPECT_EQ(OptimizarUmbral(s), (T{58982, 58982, 58982}));
}

TEST(Thresholds, ReadTheBoxesInTheUsersNumberFormat) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(OptimizarUmbral(multipliers("0,5", "1", "2.5"))[0], 29491);
    QLocale::setDefault(QLocale::c());
    try {
        OptimizarUmbral(multipliers("2.1", "one", "1"));
        FAIL() << "a word is not a multiplier";
    } catch (const RunError& e) {
        EXPECT_EQ(e.number(), kErrTypeMismatch);
    }
}

class IndexMapTest : public ::testing::Test {
  protected:
    // Image k of n: one pixel per case, values chosen per test.
    ImageSet set(std::vector<GflBitmap> images) { return memorySet("/nowhere/", std::move(images)); }
};

TEST_F(IndexMapTest, TakesTheBrightestImageWithinEveryThreshold) {
    const std::array<int32_t, 3> t{100, 200, 300};
    // Pixels: 0 all pass in image 3; 1 green exactly at its threshold in
    // image 3 (passes); 2 green one above in image 3, fine in 2; 3 clipped
    // everywhere; 4 blue over in 3 and red over in 2.
    GflBitmap i1 = uniformBitmap(5, 1, 65535, 65535, 65535);
    GflBitmap i2 = uniformBitmap(5, 1, 50, 50, 50);
    GflBitmap i3 = uniformBitmap(5, 1, 10, 10, 10);
    auto px = [](GflBitmap& b, int x, int r, int g, int bl) {
        b.row(0)[x * 3] = static_cast<uint16_t>(r);
        b.row(0)[x * 3 + 1] = static_cast<uint16_t>(g);
        b.row(0)[x * 3 + 2] = static_cast<uint16_t>(bl);
    };
    px(i3, 1, 100, 200, 300);
    px(i3, 2, 0, 201, 0);
    for (GflBitmap* b : {&i2, &i3}) px(*b, 3, 65535, 65535, 65535);
    px(i3, 4, 0, 0, 301);
    px(i2, 4, 101, 0, 0);
    const ByteMap m = buildIndexMap(set({i1, i2, i3}), t);
    EXPECT_EQ(row(m, 0), (std::vector<int>{3, 3, 2, 1, 1}));
}

TEST_F(IndexMapTest, ThresholdZeroAndDarkScenes) {
    // TH 0: any non-zero channel rejects, down to image 1.
    GflBitmap dark = uniformBitmap(3, 2, 0, 0, 0);
    GflBitmap bright = uniformBitmap(3, 2, 0, 0, 0);
    bright.row(1)[2 * 3 + 2] = 1;
    const ByteMap m = buildIndexMap(set({dark, bright}), OptimizarUmbral(camera(0)));
    EXPECT_EQ(row(m, 0), (std::vector<int>{2, 2, 2}));
    EXPECT_EQ(row(m, 1), (std::vector<int>{2, 2, 1}));
    // Two images, dark everywhere: the brighter one everywhere.
    const ByteMap d = buildIndexMap(set({uniformBitmap(4, 3, 5, 5, 5), uniformBitmap(4, 3, 20, 20, 20)}),
                                    OptimizarUmbral(camera(90)));
    EXPECT_EQ(d.data, std::vector<uint8_t>(12, 2));
}

TEST(Disc, ShapesFollowTheRadiusRule) {
    auto offsets = [](const DiscMask& m) {
        int count = 0;
        for (int b = -m.r; b <= m.r; ++b)
            for (int a = -m.r; a <= m.r; ++a) count += m.inside(a, b);
        return count;
    };
    EXPECT_EQ(offsets(GenerarMascara(1)), 9);  // the full 3 x 3 square
    const DiscMask two = GenerarMascara(2);   // 5 x 5 without its corners
    EXPECT_EQ(offsets(two), 21);
    EXPECT_FALSE(two.inside(2, 2));
    EXPECT_FALSE(two.inside(-2, 2));
    EXPECT_TRUE(two.inside(2, 1));
    const DiscMask three = GenerarMascara(3);
    EXPECT_FALSE(three.inside(2, 3));
    EXPECT_FALSE(three.inside(-3, -2));
    EXPECT_TRUE(three.inside(3, 1));
    EXPECT_TRUE(three.inside(2, 2));
    const DiscMask five = GenerarMascara(5);
    EXPECT_FALSE(five.inside(4, 4));
    EXPECT_FALSE(five.inside(-5, 3));
    EXPECT_TRUE(five.inside(5, 1));
    EXPECT_TRUE(five.inside(4, 3));
    // Every radius the stages use: the mask is exactly a^2 + b^2 <= limit.
    for (int r = 1; r <= 100; ++r) {
        const DiscMask m = GenerarMascara(r);
        for (int b = -r; b <= r; ++b)
            for (int a = -r; a <= r; ++a)
                ASSERT_EQ(m.inside(a, b), a * a + b * b <= discLimit(r)) << r << " " << a << " " << b;
    }
    EXPECT_EQ(discLimit(50), 2600);
}

TEST(BorderStages, LoneImageOnePixelGrowsToItsBlock) {
    ByteMap m = filled(7, 6, 3);
    m.data[2 * 7 + 3] = 1;
    const ByteMap ag = antiGhostMap(m, 1);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(ag.at(x, y), (std::abs(x - 3) <= 1 && std::abs(y - 2) <= 1) ? 1 : 3) << x << "," << y;
}

TEST(BorderStages, ProgressiveBorderBetweenTwoImages) {
    // Image 1 on the left three columns, image 2 on the right: with a
    // progressive radius of 1 the image-1 area first grows a column, then the
    // border fades 255, 170, 85, 0.
    ByteMap m = filled(8, 5, 2);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x) m.data[static_cast<size_t>(y) * 8 + x] = 1;
    const ByteMap ag = antiGhostMap(m, 1);
    EXPECT_EQ(row(ag, 2), (std::vector<int>{1, 1, 1, 1, 2, 2, 2, 2}));
    const ByteMap grey = progressiveGreyMap(ag, 1, 2);
    EXPECT_EQ(row(grey, 2), (std::vector<int>{255, 255, 255, 170, 85, 0, 0, 0}));
    // Radius 0: only whole levels.
    EXPECT_EQ(row(progressiveGreyMap(m, 0, 3), 0), (std::vector<int>{255, 255, 255, 128, 128, 128, 128, 128}));
}

TEST(BorderStages, FastStagesEqualTheLiteralOnes) {
    struct Case {
        int w, h, n, r;
    };
    std::vector<Case> cases = {{1, 1, 2, 1},   {1, 37, 3, 2},  {41, 1, 4, 3},  {2, 2, 10, 5},
                               {13, 9, 2, 7},  {29, 31, 5, 4}, {60, 45, 3, 9}, {17, 23, 10, 12},
                               {80, 70, 4, 1}, {35, 52, 6, 6}, {9, 120, 7, 8}, {120, 9, 8, 10}};
    // Every radius the sliders give, then beyond the image and up to the
    // anti-ghosting stage's top, on small maps.
    for (int r = 1; r <= 50; ++r) cases.push_back({18 + r % 7, 15 + r % 5, 2 + r % 9, r});
    for (int r : {51, 77, 100}) cases.push_back({30 + r % 7, 25 + r % 5, 2 + r % 9, r});
    uint32_t seed = 1;
    for (int threads : {1, 3}) {
        setParallelThreads(threads);
        for (const Case& c : cases)
            for (int rep = 0; rep < 2; ++rep, ++seed) {
                SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " n=" << c.n << " r=" << c.r
                                                << " seed=" << seed << " threads=" << threads);
                const ByteMap map = randomBlobMap(c.w, c.h, c.n, seed);
                const ByteMap ag = antiGhostMap(map, c.r);
                ASSERT_EQ(ag.data, literalAntiGhost(map, c.r, c.n).data);
                if (c.r <= 50) {
                    ASSERT_EQ(progressiveGreyMap(ag, c.r, c.n).data, literalProgressive(ag, c.r, c.n).data);
                    ASSERT_EQ(progressiveGreyMap(map, c.r, c.n).data, literalProgressive(map, c.r, c.n).data);
                }
            }
    }
    setParallelThreads(0);
}

TEST(BorderStages, ProgressReachesTheEnd) {
    std::vector<int> seen;
    antiGhostMap(randomBlobMap(50, 100, 3, 9), 3, [&](int p) { seen.push_back(p); });
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(DecodingTable, WholeNumbersDecodeExactly) {
    const std::vector<float> t3 = buildTablaMapa(3);
    EXPECT_EQ(t3[0], 3.0f);
    EXPECT_EQ(t3[128], 2.0f);
    EXPECT_EQ(t3[255], 1.0f);
    EXPECT_NEAR(t3[127], 2.0039, 1e-4);
    EXPECT_EQ(t3[127], static_cast<float>(3 + (1.0 - 3) * 127 / 255));
    const std::vector<int> four = {greyOfImage(1, 4), greyOfImage(2, 4), greyOfImage(3, 4), greyOfImage(4, 4)};
    EXPECT_EQ(four, (std::vector<int>{255, 170, 85, 0}));
    EXPECT_EQ(greyOfImage(2, 5), 191);
    EXPECT_EQ(greyOfImage(4, 5), 64);
    for (int n = 2; n <= 10; ++n) {
        const std::vector<float> t = buildTablaMapa(n);
        for (int k = 1; k <= n; ++k) EXPECT_EQ(t[greyOfImage(k, n)], static_cast<float>(k)) << n << " " << k;
        for (int j = 1; j < 256; ++j) EXPECT_LE(t[static_cast<size_t>(j)], t[static_cast<size_t>(j) - 1]);
    }
}

class BuildMapTest : public ::testing::Test {
  protected:
    void SetUp() override { folder = dir.path() + "/"; }
    // Three 40 x 30 frames of a bracket 2 EV apart: highlights clip in the
    // brighter ones.
    void makeSet(int n = 3, int w = 40, int h = 30) {
        std::vector<GflBitmap> frames;
        for (int i = 0; i < n; ++i) frames.push_back(bracketFrame(w, h, 4.0 * std::pow(4.0, i), 7 + i));
        set = memorySet(folder, frames);
    }
    QString ref() const { return folder + "IMG_1.CR2"; }
    QStringList maps() const { return QDir(folder).entryList({"Map_*.png"}, QDir::Files); }
    QStringList logWithoutTime() const {
        QStringList lines = rep.logLines();
        for (QString& l : lines) l.replace(QRegularExpression("Map_\\d{6}\\.png"), "Map_hhmmss.png");
        return lines;
    }

    QTemporaryDir dir;
    QString folder;
    ImageSet set;
    RecordingReporter rep;
};

TEST_F(BuildMapTest, BothRadiiLogEveryStageAndWriteTheMap) {
    makeSet();
    MapSettings s = camera(90);
    s.antiGhost = 2;
    s.progressive = 3;
    const QString path = GenerarMapa(ref(), s, set, rep);
    ASSERT_FALSE(path.isEmpty()) << rep.log.toStdString();
    EXPECT_EQ(logWithoutTime(),
              (QStringList{"Threshold optimisation...", "R: 58982", "G: 58982", "B: 58982", "",
                           "Building pixel map...", "Building anti ghosting map (2+3px) ...",
                           "Building progressive map (3px) ...", "Generating PNG map...", "",
                           "Saving PNG map as Map_hhmmss.png...", "DONE"}));
    EXPECT_EQ(rep.beeps, 1);
    EXPECT_EQ(rep.progress.back(), "100%");
    ASSERT_EQ(maps().size(), 1);
    EXPECT_EQ(path, folder + maps()[0]);
    EXPECT_TRUE(QRegularExpression("^Map_\\d{6}\\.png$").match(maps()[0]).hasMatch());

    // The file: W x H grey levels equal to the stages' result.
    QImageReader reader(path);
    const QImage png = reader.read();
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(40, 30));
    EXPECT_TRUE(png.isGrayscale());
    const ByteMap idx = buildIndexMap(set, OptimizarUmbral(s));
    const ByteMap expected = literalProgressive(literalAntiGhost(idx, 5, 3), 3, 3);
    bool seenMiddle = false;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const QRgb c = png.pixel(x, y);
            ASSERT_EQ(qRed(c), expected.at(x, y));
            ASSERT_EQ(qGreen(c), qRed(c));
            ASSERT_EQ(qBlue(c), qRed(c));
            seenMiddle |= qRed(c) != 0 && qRed(c) != 128 && qRed(c) != 255;
        }
    EXPECT_TRUE(seenMiddle) << "a bracket should have progressive borders";
    EXPECT_TRUE(set.tablaMapaValida());
    EXPECT_EQ(set.TablaMapa, buildTablaMapa(3));
}

TEST_F(BuildMapTest, ZeroRadiiDropTheirLines) {
    makeSet();
    MapSettings s = multipliers("2", "1", "1.5");
    s.antiGhost = 0;
    s.progressive = 0;
    ASSERT_FALSE(GenerarMapa(ref(), s, set, rep).isEmpty());
    EXPECT_EQ(logWithoutTime(),
              (QStringList{"Threshold optimisation...", "R: 65279", "G: 58982", "B: 65279", "",
                           "Building pixel map...", "Generating PNG map...", "",
                           "Saving PNG map as Map_hhmmss.png...", "DONE"}));
    EXPECT_TRUE(rep.progress.isEmpty());
    // Only whole levels.
    const QImage png(folder + maps()[0]);
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x) {
            const int g = qRed(png.pixel(x, y));
            ASSERT_TRUE(g == 0 || g == 128 || g == 255) << g;
        }

    // Anti-ghosting alone keeps its line, without the progressive one.
    s.antiGhost = 1;
    rep = RecordingReporter();
    ASSERT_FALSE(GenerarMapa(ref(), s, set, rep).isEmpty());
    EXPECT_TRUE(rep.logLines().contains("Building anti ghosting map (1+0px) ..."));
    EXPECT_FALSE(rep.logLines().join("|").contains("progressive"));
}

TEST_F(BuildMapTest, SmallAndThinSets) {
    for (QSize size : {QSize(1, 9), QSize(9, 1), QSize(1, 1)}) {
        makeSet(2, size.width(), size.height());
        rep = RecordingReporter();
        MapSettings s = camera(90);
        s.antiGhost = 50;
        s.progressive = 50;
        const QString path = GenerarMapa(ref(), s, set, rep);
        ASSERT_FALSE(path.isEmpty()) << rep.log.toStdString();
        EXPECT_EQ(QImage(path).size(), size);
        QFile::remove(path);
    }
}

TEST_F(BuildMapTest, ANonNumberMultiplierEndsTheBuild) {
    makeSet();
    set.TablaMapa = buildTablaMapa(3);
    set.TablaMapaImagenes = 3;
    EXPECT_TRUE(GenerarMapa(ref(), multipliers("1.2", "abc", "1"), set, rep).isEmpty());
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_EQ(rep.boxes[0].title, "ERROR");
    EXPECT_TRUE(rep.boxes[0].text.startsWith("Unexpected error occurred in module GenerarMapa"));
    EXPECT_TRUE(rep.boxes[0].text.contains("Error number 13"));
    EXPECT_TRUE(maps().isEmpty());
    EXPECT_EQ(rep.beeps, 0);
}

TEST_F(BuildMapTest, AFolderWithoutWritePermissionLeavesNothingBehind) {
    makeSet();
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                          QFile::ExeOther);
    // As another user, so that even root's test run meets a closed folder.
    const int status = runInChild(
        [&] {
            RecordingReporter child;
            const bool failed = GenerarMapa(ref(), camera(90), set, child).isEmpty();
            const bool reported = child.boxes.size() == 1 &&
                                  child.boxes[0].text.contains("module GenerarMapa");
            return failed && reported ? 0 : 1;
        },
        ChildLimits{true, -1, -1});
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(BuildMapTest, AMissingFolderIsReportedAndNothingIsWritten) {
    makeSet();
    EXPECT_TRUE(GenerarMapa(folder + "gone/IMG_1.CR2", camera(90), set, rep).isEmpty());
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.contains("GenerarMapa"));
    EXPECT_EQ(rep.logLines(), QStringList{"An unexpected error occurred"});
    EXPECT_TRUE(maps().isEmpty());
}

TEST_F(BuildMapTest, AnUnloadedSetIsReported) {
    makeSet();
    set.release();
    EXPECT_TRUE(GenerarMapa(ref(), camera(90), set, rep).isEmpty());
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.contains("GenerarMapa"));
    EXPECT_FALSE(set.tablaMapaValida());
}

}  // namespace
