// The merges' quality benchmark on a small bracket: the weighted merge is at
// least as good as the selection in every stop of brightness.
#include "bench/merge_quality.h"
#include "develop/dcraw_command.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>
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
