// The merges' quality benchmark on a small bracket: the weighted merge is at
// least as good as the selection in every stop of brightness.
#include "bench/merge_quality.h"
#include "develop/dcraw_command.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>
#include <array>
#include <cstdio>

TEST(MergeQuality, WeightedIsAtLeastAsGoodAsSelectInEveryStop) {
    ASSERT_TRUE(QFile::exists(RutaDCRAW)) << "dcraw is not installed";
    QTemporaryDir dir;
    const MergeQuality q = measureMergeQuality(QualityRun{}, dir.path());
    std::printf("%s", qPrintable(qualityTable(q)));
    ASSERT_GE(q.bands.size(), 10u);
    // The two merges are the same where one frame is usable; the last
    // hundredth of a dB is the weighted merge's single-precision arithmetic.
    for (const QualityBand& b : q.bands)
        EXPECT_GE(b.weighted, b.select - 0.01) << "stop " << b.index;
}

// A warm sky and lamp whose red clips through the white balance: developed
// with headroom, each frame serves up to where its sensor clips, so its top
// stop is no worse than without, and the weighted merge stays at least as
// good as the selection everywhere.
TEST(MergeQuality, HeadroomKeepsTheBrighterFramesInTheirTopStop) {
    ASSERT_TRUE(QFile::exists(RutaDCRAW)) << "dcraw is not installed";
    std::array<MergeQuality, 2> q;
    for (const bool headroom : {false, true}) {
        QTemporaryDir dir;
        QualityRun run;
        run.warm = true;
        run.headroom = headroom;
        q[headroom] = measureMergeQuality(run, dir.path());
        std::printf("warm scene, %s headroom\n%s", headroom ? "with" : "without",
                    qPrintable(qualityTable(q[headroom])));
    }
    for (const QualityBand& b : q[1].bands)
        EXPECT_GE(b.weighted, b.select - 0.01) << "stop " << b.index;
    auto band = [](const MergeQuality& m, int index) {
        for (const QualityBand& b : m.bands)
            if (b.index == index) return b;
        return QualityBand{};
    };
    for (const int top : q[1].topStops)
        EXPECT_GE(band(q[1], top).weighted, band(q[0], top).weighted - 0.1) << "stop " << top;
    // Frame 2's red clipped through the white balance in its top stop: with
    // headroom it serves there (about 5 dB better on this bracket).
    EXPECT_GE(band(q[1], q[1].topStops[0]).weighted, band(q[0], q[0].topStops[0]).weighted + 2);
}
