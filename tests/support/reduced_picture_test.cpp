// Small copies of written pictures against plain block means.
#include "support/reduced_picture.h"

#include "support/numbers.h"
#include "support/recording_reporter.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <numeric>
#include <random>
#include <thread>

namespace {

// The mean of the f x f block (bx, by) of `at(x, y)`, partial at the edges.
template <typename At>
int blockMean(int bx, int by, int f, QSize size, double scale, At at) {
    double sum = 0, n = 0;
    for (int y = by * f; y < std::min(size.height(), (by + 1) * f); ++y)
        for (int x = bx * f; x < std::min(size.width(), (bx + 1) * f); ++x, ++n) sum += at(x, y);
    return static_cast<int>(roundHalfEven(sum / n / scale));
}

TEST(ReducedPicture, RowsInAnyOrderFromManyThreadsGiveTheBlockMeans) {
    const QSize size(1931, 707);  // a factor of 4 with partial blocks on both edges
    std::mt19937 random(5);
    std::vector<uint16_t> pixels(static_cast<size_t>(size.width()) * size.height() * 3);
    for (uint16_t& v : pixels) v = static_cast<uint16_t>(random());
    std::vector<int> starts;  // strips of 1 to 9 rows, shuffled over four threads
    for (int y = 0; y < size.height(); y += 1 + static_cast<int>(random() % 9)) starts.push_back(y);
    starts.push_back(size.height());
    std::vector<size_t> order(starts.size() - 1);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    ReducedRgb16 copy(size.width(), size.height());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = t; i < order.size(); i += 4) {
                const int y = starts[order[i]];
                copy.addRows(y, starts[order[i] + 1] - y,
                             pixels.data() + static_cast<size_t>(y) * size.width() * 3);
            }
        });
    for (auto& t : threads) t.join();
    const QImage picture = copy.picture();
    ASSERT_EQ(picture.size(), QSize(483, 177));
    for (int by = 0; by < picture.height(); ++by)
        for (int bx = 0; bx < picture.width(); ++bx)
            ASSERT_EQ(
                qGreen(picture.pixel(bx, by)),
                blockMean(bx, by, 4, size, 257,
                          [&](int x, int y) {
                              return pixels[(static_cast<size_t>(y) * size.width() + x) * 3 + 1];
                          }))
                << bx << "," << by;

    // An 8-bit picture (grey, as the map and the sheet are) the same way.
    QImage grey(1300, 650, QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) grey.scanLine(y)[x] = static_cast<uchar>(random());
    const QImage reduced = reducedPicture(grey);
    ASSERT_EQ(reduced.size(), QSize(434, 217));  // factor 3
    for (int by = 0; by < reduced.height(); ++by)
        for (int bx = 0; bx < reduced.width(); ++bx)
            ASSERT_EQ(reduced.constScanLine(by)[bx],
                      blockMean(bx, by, 3, grey.size(), 1,
                                [&](int x, int y) { return grey.constScanLine(y)[x]; }));
}

TEST(ReducedPicture, ACopyStaysSmallWhateverTheSize) {
    for (const QSize s : {QSize(1, 1), QSize(641, 1), QSize(6000, 4000), QSize(200000, 3),
                          QSize(16384, 16384), QSize(0x7fffffff, 1)}) {
        const QSize r = reducedSize(s.width(), s.height());
        const int longest = std::max(r.width(), r.height());
        EXPECT_TRUE(longest <= kReducedSide &&
                    longest > std::min(kReducedSide, std::max(s.width(), s.height())) / 2 &&
                    std::min(r.width(), r.height()) >= 1)
            << s.width() << "x" << s.height();
        EXPECT_LT(qint64(r.width()) * r.height() * (3 * 8 + 4), 16LL << 20);  // sums and picture
    }
}

}  // namespace
