// Pair scans and log-ratio bins: the fast scans against a literal reference
// (column-outer loops, one pixel read at a time, std::log per sample), the
// neighbour test on hand-made images, and the table bins against the formula.
#include "exposure/exposure_scan.h"
#include "support/parallel.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <cmath>
#include <random>

namespace {

struct Rgb {
    int32_t r, g, b;
};

// One pixel as the stored 16-bit patterns are read back, channel by channel.
Rgb readPixel(const GflBitmap& image, int x, int y) {
    const uint16_t* p = image.row(y) + static_cast<size_t>(x) * 3;
    return {LeerCanal16(static_cast<int16_t>(p[0])), LeerCanal16(static_cast<int16_t>(p[1])),
            LeerCanal16(static_cast<int16_t>(p[2]))};
}

struct LiteralScan {
    uint64_t count = 0;
    double sumDark = 0, sumBright = 0;
    std::vector<uint64_t> bins = std::vector<uint64_t>(8192, 0);
};

// The pair scan in its plain form: x outer, y inner, the eight neighbours in
// their order with a stop at the first clipped one, double sums, the bin from
// std::log and the weight from floor().
LiteralScan literalScan(const GflBitmap& dark, const GflBitmap& bright) {
    static const int dx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
    static const int dy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    const int w = bright.width, h = bright.height;
    LiteralScan s;
    for (int x = 1; x <= w - 1; ++x)
        for (int y = 1; y <= h - 1; ++y) {
            bool clipped = false;
            for (int i = 0; i < 8 && !clipped; ++i) {
                const int nx = x + dx[i], ny = y + dy[i];
                if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                const Rgb n = readPixel(bright, nx, ny);
                clipped = n.r >= 58982 || n.g >= 58982 || n.b >= 58982;
            }
            if (clipped) continue;
            const Rgb a = readPixel(dark, x, y), b = readPixel(bright, x, y);
            const int32_t as[3] = {a.r, a.g, a.b}, bs[3] = {b.r, b.g, b.b};
            for (int c = 0; c < 3; ++c) {
                if (as[c] < 1025 || as[c] > 58981 || bs[c] < 1025 || bs[c] > 58981) continue;
                ++s.count;
                s.sumDark += as[c];
                s.sumBright += bs[c];
                double bin =
                    std::nearbyint(std::log(static_cast<double>(bs[c]) / as[c]) * 1442.69504088896);
                bin = std::clamp(bin, 0.0, 8191.0);
                const double weight = 1 + std::floor(16.0 * bs[c] / 65535);
                s.bins[static_cast<size_t>(bin)] += static_cast<uint64_t>(weight);
            }
        }
    return s;
}

// A bracket pair with noise, black and clipped pixels scattered through it,
// so that every branch of the scan is taken often.
std::pair<GflBitmap, GflBitmap> randomPair(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    GflBitmap dark = makeBitmap(w, h, [&](int, int, int) {
        const double u = unit(rng);
        if (u < 0.03) return 0.0;
        if (u < 0.06) return 65535.0;
        return 200 + 30000 * unit(rng);
    });
    GflBitmap bright = makeBitmap(w, h, [&](int x, int y, int c) {
        const double u = unit(rng);
        if (u < 0.02) return 65535.0;  // clipped: makes its eight neighbours skip
        const double a = dark.row(y)[x * 3 + c];
        return a * (1.5 + 3 * unit(rng)) + 500 * unit(rng);
    });
    return {std::move(dark), std::move(bright)};
}

void expectSameAsLiteral(const GflBitmap& dark, const GflBitmap& bright) {
    const LiteralScan ref = literalScan(dark, bright);
    const PairAverage avg = scanPairAverage(dark, bright);
    const PairMedian med = scanPairMedian(dark, bright);
    EXPECT_EQ(avg.count, ref.count);
    EXPECT_EQ(static_cast<double>(avg.sumDark), ref.sumDark);
    EXPECT_EQ(static_cast<double>(avg.sumBright), ref.sumBright);
    EXPECT_EQ(med.count, ref.count);
    EXPECT_EQ(med.bins, ref.bins);
}

class PairScanReferenceTest : public ::testing::Test {
  protected:
    void TearDown() override { setParallelThreads(0); }
};

TEST_F(PairScanReferenceTest, FastScansMatchTheLiteralScanOnRandomPairs) {
    // Sizes from degenerate to several row bands of 2^18 pixels (band edges
    // must see the neighbour rows of the next band).
    const int sizes[][2] = {{1, 1},  {1, 7},   {7, 1},      {2, 2},     {3, 3},
                            {17, 5}, {97, 61}, {257, 2100}, {1500, 400}};
    uint32_t seed = 1;
    for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << size[0] << " x " << size[1]);
        const auto [dark, bright] = randomPair(size[0], size[1], seed++);
        expectSameAsLiteral(dark, bright);
    }
    // And with the two images the other way round (many samples below ratio 1).
    const auto [dark, bright] = randomPair(120, 90, 99);
    expectSameAsLiteral(bright, dark);
}

TEST_F(PairScanReferenceTest, ResultsDoNotDependOnThePairScanReferenceTest) {
    const auto [dark, bright] = randomPair(613, 1301, 7);  // 4 bands
    setParallelThreads(1);
    const PairAverage avg1 = scanPairAverage(dark, bright);
    const PairMedian med1 = scanPairMedian(dark, bright);
    const uint64_t sum1 = channelSum(bright);
    for (int threads : {2, 3}) {
        setParallelThreads(threads);
        const PairAverage avg = scanPairAverage(dark, bright);
        const PairMedian med = scanPairMedian(dark, bright);
        EXPECT_EQ(avg.count, avg1.count);
        EXPECT_EQ(avg.sumDark, avg1.sumDark);
        EXPECT_EQ(avg.sumBright, avg1.sumBright);
        EXPECT_EQ(med.bins, med1.bins);
        EXPECT_EQ(channelSum(bright), sum1);
    }
}

TEST(PairScanTest, NeighbourTestOnHandMadeImages) {
    // 5 x 5, every channel usable in both images: 16 centre pixels, 48 samples.
    const GflBitmap dark = uniformBitmap(5, 5, 2000, 2000, 2000);
    GflBitmap bright = uniformBitmap(5, 5, 4000, 4000, 4000);
    EXPECT_EQ(scanPairAverage(dark, bright).count, 48u);

    // One clipped channel at (2, 2) removes its eight neighbours but not
    // itself: its own G and B are still samples, its R is not usable.
    bright.row(2)[2 * 3] = 58982;
    PairAverage avg = scanPairAverage(dark, bright);
    // Centres are x, y in 1..4; the neighbours of (2, 2) are all centres, so
    // 7 whole pixels remain, plus G and B of (2, 2).
    EXPECT_EQ(avg.count, (16u - 8u - 1u) * 3u + 2u);

    // 58981 is still usable and unclipped.
    bright.row(2)[2 * 3] = 58981;
    EXPECT_EQ(scanPairAverage(dark, bright).count, 48u);

    // A clipped pixel in row 0 or column 0 (never a centre) still removes its
    // neighbours: (0, 0) clipped removes only centre (1, 1).
    bright = uniformBitmap(5, 5, 4000, 4000, 4000);
    bright.row(0)[2] = 65535;
    EXPECT_EQ(scanPairAverage(dark, bright).count, 45u);

    // A clipped pixel in the darker image matters only through its own samples.
    GflBitmap darkClipped = dark;
    darkClipped.row(2)[2 * 3 + 1] = 65535;
    EXPECT_EQ(scanPairAverage(darkClipped, uniformBitmap(5, 5, 4000, 4000, 4000)).count, 47u);

    // 2 x 2: the one centre pixel (1, 1) has its right and lower neighbours
    // outside the image, which count as unclipped.
    EXPECT_EQ(scanPairAverage(uniformBitmap(2, 2, 2000, 2000, 2000),
                              uniformBitmap(2, 2, 4000, 4000, 4000))
                  .count,
              3u);

    // Usable limits: 1024 and 58982 are out, 1025 and 58981 are in. Only the
    // centre pixel (1, 1) holds 58982, so no neighbour is clipped.
    GflBitmap limitBright = uniformBitmap(2, 2, 1025, 58981, 1024);
    limitBright.row(1)[3 + 2] = 58982;
    const PairAverage limits = scanPairAverage(uniformBitmap(2, 2, 1024, 1025, 30000), limitBright);
    EXPECT_EQ(limits.count, 1u);
    EXPECT_EQ(limits.sumDark, 1025u);
    EXPECT_EQ(limits.sumBright, 58981u);
}

TEST(PairScanTest, MismatchedOrEmptyImagesAreRefused) {
    EXPECT_ANY_THROW(scanPairAverage(uniformBitmap(4, 4, 1, 1, 1), uniformBitmap(4, 5, 1, 1, 1)));
    EXPECT_ANY_THROW(scanPairMedian(GflBitmap(), GflBitmap()));
    EXPECT_ANY_THROW(channelSum(GflBitmap()));
}

TEST(PairScanTest, ChannelSumIsExact) {
    const GflBitmap image = randomBitmap(333, 211, 5);
    uint64_t expected = 0;
    for (uint16_t v : image.pixels) expected += v;
    EXPECT_EQ(channelSum(image), expected);
    // Rows wider than 21845 pixels would overflow a 32-bit row sum.
    const GflBitmap wide = uniformBitmap(30000, 2, 65535, 65535, 65535);
    EXPECT_EQ(channelSum(wide), 65535ull * 3 * 30000 * 2);
}

TEST(ExposureBinTest, TableBinsEqualTheFormula) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> usable(kUsableMin, kUsableMax);
    double worst = 0;
    for (int i = 0; i < 2000000; ++i) {
        const int a = usable(rng), b = usable(rng);
        ASSERT_EQ(exposureBin(a, b), exposureBinExact(a, b)) << a << " " << b;
        const double t = std::log(static_cast<double>(b) / a) * kBinsPerNaturalLog;
        worst = std::max(worst, std::fabs(exposureBinPosition(a, b) - t));
    }
    // The bound the guard relies on, with its margin.
    EXPECT_LT(worst, 1e-11);

    // Pairs whose bin position lies within 1e-8 of a half-integer (found by
    // a search over all usable pairs): here the table cannot decide alone.
    const int nearHalf[][2] = {{15095, 41773}, {30190, 41773}, {24559, 51009}, {49118, 51009},
                               {46210, 48457}, {23105, 48457}, {10349, 37089}, {37089, 41396},
                               {5579, 37910},  {33474, 56865}};
    for (const auto& p : nearHalf) {
        const double t = exposureBinPosition(p[0], p[1]);
        EXPECT_LT(std::fabs(t - std::floor(t) - 0.5), kBinGuard);
        EXPECT_EQ(exposureBin(p[0], p[1]), exposureBinExact(p[0], p[1]));
    }
    // Constructed near-half cases: for each a, the b nearest to each bin's
    // upper edge, on both sides of it.
    for (int a = kUsableMin; a <= kUsableMax; a += 997)
        for (int bin = 0; bin < 5846; bin += 37) {
            const double edge = a * std::exp((bin + 0.5) / kBinsPerNaturalLog);
            for (int b = static_cast<int>(edge) - 1; b <= static_cast<int>(edge) + 2; ++b) {
                if (b < kUsableMin || b > kUsableMax) continue;
                ASSERT_EQ(exposureBin(a, b), exposureBinExact(a, b)) << a << " " << b;
            }
        }
}

TEST(ExposureBinTest, BinEdgesAndLimits) {
    EXPECT_EQ(exposureBinExact(3000, 3000), 0);
    EXPECT_EQ(exposureBinExact(3000, 1500), 0);     // darker "brighter" value: bin 0
    EXPECT_EQ(exposureBinExact(2000, 4000), 1000);  // one stop
    EXPECT_EQ(exposureBin(2000, 8000), 2000);
    // A ratio of 2^8.191 or more lands in the last bin; so do ratios no usable
    // pair can reach (the largest usable one is 58981 / 1025, 5.85 EV).
    EXPECT_EQ(exposureBinExact(100, 29230), 8191);  // 2^8.191 * 100 = 29229.4
    EXPECT_EQ(exposureBin(1, 65535), 8191);
    EXPECT_EQ(exposureBinExact(1, 65535), 8191);
    EXPECT_EQ(exposureBin(1025, 58981), exposureBinExact(1025, 58981));
    EXPECT_EQ(exposureBinExact(1025, 58981), 5847);  // 5846.55
    // Weights: 1 below 4096, 15 for the highest usable values.
    EXPECT_EQ(sampleWeight(1025), 1);
    EXPECT_EQ(sampleWeight(4095), 1);
    EXPECT_EQ(sampleWeight(4096), 2);  // 16 * 4096 / 65535 = 1.00002
    EXPECT_EQ(sampleWeight(58981), 15);
}

TEST(ExposureBinTest, MedianNeedsHalfTheTotalWithoutRounding) {
    std::vector<uint64_t> bins(8192, 0);
    EXPECT_EQ(histogramMedian(bins), -1);
    bins[10] = 1;
    bins[20] = 1;
    EXPECT_EQ(histogramMedian(bins), 10);  // 2 * 1 >= 2
    bins[30] = 1;
    EXPECT_EQ(histogramMedian(bins), 20);  // 2 * 1 < 3, 2 * 2 >= 3
    std::vector<uint64_t> last(8192, 0);
    last[8191] = 5;
    last[0] = 4;
    EXPECT_EQ(histogramMedian(last), 8191);  // the median never goes beyond 8.191 EV
    EXPECT_EQ(histogramTotal(last), 9u);
}

}  // namespace
