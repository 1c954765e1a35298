// Small copies of written pictures against plain block means, and the counts
// of the long stages.
#include "support/reduced_picture.h"

#include "blend/blend.h"
#include "exposure/exposure.h"
#include "maps/maps.h"
#include "support/gfl_bitmap.h"
#include "support/numbers.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"
#include "tests/common/exposure_sets.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

// The mean of block (bx, by) of channel c, read through `at(x, y, c)`.
template <typename At>
uint8_t blockMean(int bx, int by, int c, int f, int w, int h, double scale, At at) {
    double sum = 0, n = 0;
    for (int y = by * f; y < std::min(h, (by + 1) * f); ++y)
        for (int x = bx * f; x < std::min(w, (bx + 1) * f); ++x, ++n) sum += at(x, y, c);
    return static_cast<uint8_t>(roundHalfEven(sum / n / scale));
}

TEST(ReducedPicture, SixteenBitRowsInAnyOrderFromManyThreadsGiveTheBlockMeans) {
    const int w = 1931, h = 707;  // a factor of 4 with partial blocks on both edges
    std::mt19937 random(5);
    std::vector<uint16_t> pixels(static_cast<size_t>(w) * h * 3);
    for (uint16_t& v : pixels) v = static_cast<uint16_t>(random());
    // Strips of uneven heights, handed out in a shuffled order to four threads.
    std::vector<std::pair<int, int>> strips;
    for (int y = 0; y < h;) {
        const int n = std::min(h - y, 1 + static_cast<int>(random() % 9));
        strips.emplace_back(y, n);
        y += n;
    }
    std::shuffle(strips.begin(), strips.end(), random);
    ReducedRgb16 copy(w, h);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = static_cast<size_t>(t); i < strips.size(); i += 4)
                copy.addRows(strips[i].first, strips[i].second,
                             pixels.data() + static_cast<size_t>(strips[i].first) * w * 3);
        });
    for (auto& t : threads) t.join();
    const QImage picture = copy.picture();
    ASSERT_EQ(picture.size(), QSize(483, 177));
    auto at = [&](int x, int y, int c) { return pixels[(static_cast<size_t>(y) * w + x) * 3 + c]; };
    for (int by = 0; by < picture.height(); ++by)
        for (int bx = 0; bx < picture.width(); ++bx) {
            const QRgb p = picture.pixel(bx, by);
            ASSERT_EQ(qRed(p), blockMean(bx, by, 0, 4, w, h, 257, at)) << bx << "," << by;
            ASSERT_EQ(qGreen(p), blockMean(bx, by, 1, 4, w, h, 257, at));
            ASSERT_EQ(qBlue(p), blockMean(bx, by, 2, 4, w, h, 257, at));
        }
}

TEST(ReducedPicture, EightBitPicturesGiveTheBlockMeans) {
    std::mt19937 random(9);
    for (QImage::Format format : {QImage::Format_Grayscale8, QImage::Format_RGB32}) {
        QImage source(1300, 650, format);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                source.setPixel(x, y, format == QImage::Format_Grayscale8 ? random() % 256
                                                                          : random() | 0xff000000u);
        const QImage reduced = reducedPicture(source);
        ASSERT_EQ(reduced.size(), QSize(434, 217));  // factor 3
        const QImage rgb = source.convertToFormat(QImage::Format_RGB32);
        auto at = [&](int x, int y, int c) {
            const QRgb p = rgb.pixel(x, y);
            return c == 0 ? qRed(p) : c == 1 ? qGreen(p) : qBlue(p);
        };
        for (int by = 0; by < reduced.height(); by += 7)
            for (int bx = 0; bx < reduced.width(); bx += 5)
                ASSERT_EQ(qGreen(reduced.pixel(bx, by)), blockMean(bx, by, 1, 3, 1300, 650, 1, at));
    }
}

TEST(ReducedPicture, ACopyStaysSmallWhateverTheSize) {
    const QSize sizes[] = {{1, 1},         {640, 640},     {641, 1},       {6000, 4000},
                           {200000, 3},    {16384, 16384}, {46341, 5793},  {0x7fffffff, 1}};
    for (const QSize& s : sizes) {
        SCOPED_TRACE(std::to_string(s.width()) + "x" + std::to_string(s.height()));
        const QSize r = reducedSize(s.width(), s.height());
        const int longest = std::max(s.width(), s.height());
        EXPECT_LE(std::max(r.width(), r.height()), kReducedSide);
        EXPECT_GE(std::min(r.width(), r.height()), 1);
        // Not needlessly small: more than half the allowed side once reduced.
        if (longest > kReducedSide) {
            EXPECT_GT(std::max(r.width(), r.height()), kReducedSide / 2);
        }
        // The sums and the picture together stay under 16 MB.
        EXPECT_LT(qint64(r.width()) * r.height() * (3 * 8 + 4), 16LL << 20);
    }
}

TEST(StageCounts, LoadingMeasuringAndWritingCountToAHundred) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const QStringList raws = writeBracketSet(folder, 3, 120, 80, 3);
    ImageSet set;
    RecordingReporter rep;
    ASSERT_EQ(calcularEV(folder + raws[0], raws, false, set, rep), 1) << rep.log.toStdString();
    // Each stage counts up to 100; the last to end ends there.
    auto counted = [&rep] {
        return !rep.stages.empty() && rep.stages.back() == 100 &&
               std::all_of(rep.stages.begin(), rep.stages.end(), [](int p) { return p >= 0 && p <= 100; });
    };
    EXPECT_TRUE(counted()) << ::testing::PrintToString(rep.stages);
    ASSERT_FALSE(GenerarMapa(folder + raws[0], MapSettings(), set, rep).isEmpty());
    BlendSettings blend;
    blend.perfil = "sRGB";
    blend.rutaMapa = QDir(folder).entryList({"Map_*.png"}).value(0).prepend(folder);
    rep.stages.clear();
    rep.results.clear();
    ASSERT_EQ(FusionarImagenes(folder + raws[0], blend, set, rep), 1) << rep.log.toStdString();
    EXPECT_TRUE(counted());
    ASSERT_EQ(rep.results.size(), 1u);
    EXPECT_EQ(rep.results[0].kind, ResultKind::Output);
    EXPECT_EQ(rep.results[0].picture.size(), QSize(120, 80));
}

}  // namespace
