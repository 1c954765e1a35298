// The photosite estimate read from RAW headers, the free memory and the
// scheduling of decoder processes over cores and memory.
#include "develop/decoder_resources.h"
#include "develop/decoder_pool.h"

#include "tests/common/fake_decoder.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// A big-endian TIFF-like header: IFD0 declares a 160 x 120 thumbnail and two
// SubIFDs, the larger of which declares 4000 x 3000.
QByteArray bigEndianWithSubIfds() {
    QByteArray b;
    auto u16 = [&](int v) { b.append(char(v >> 8)).append(char(v & 255)); };
    auto u32 = [&](quint32 v) {
        for (int s = 24; s >= 0; s -= 8) b.append(char((v >> s) & 255));
    };
    auto entry = [&](int tag, int type, quint32 count, quint32 value) {
        u16(tag);
        u16(type);
        u32(count);
        if (type == 3 && count == 1) {
            u16(static_cast<int>(value));
            u16(0);
        } else {
            u32(value);
        }
    };
    b.append("MM");
    u16(42);
    u32(8);
    // IFD0 at 8: 3 entries, next 0 -> ends at 8 + 2 + 36 + 4 = 50.
    u16(3);
    entry(256, 3, 1, 160);
    entry(257, 3, 1, 120);
    entry(330, 4, 2, 50);  // two SubIFD offsets at 50
    u32(0);
    u32(58);  // SubIFD A
    u32(88);  // SubIFD B
    // SubIFD A at 58: 2 entries -> 58 + 2 + 24 + 4 = 88.
    u16(2);
    entry(256, 4, 1, 640);
    entry(257, 4, 1, 480);
    u32(0);
    // SubIFD B at 88: its next IFD points back at IFD0 (a loop to survive).
    u16(2);
    entry(256, 4, 1, 4000);
    entry(257, 4, 1, 3000);
    u32(8);
    return b;
}

TEST(RawPixelEstimateTest, ReadsTheLargestImageAGeneratedDngDeclares) {
    QTemporaryDir dir;
    QProcess gen;
    gen.start(ORRINDALE_MAKE_BRACKET,
              {"--count", "1", "--width", "600", "--height", "400", "--out", dir.path()});
    ASSERT_TRUE(gen.waitForFinished(60000));
    ASSERT_EQ(gen.exitCode(), 0);
    EXPECT_EQ(rawPixelEstimate(dir.filePath("IMG_0001.dng")), 600 * 400);
}

TEST(RawPixelEstimateTest, FollowsSubIfdsInEitherByteOrderAndSurvivesLoops) {
    QTemporaryDir dir;
    writeBytes(dir.filePath("a.nef"), bigEndianWithSubIfds());
    EXPECT_EQ(rawPixelEstimate(dir.filePath("a.nef")), 4000 * 3000);
}

TEST(RawPixelEstimateTest, WithoutAHeaderTheFileSizeStandsIn) {
    QTemporaryDir dir;
    writeBytes(dir.filePath("x.raw"), QByteArray(12345, 'x'));
    EXPECT_EQ(rawPixelEstimate(dir.filePath("x.raw")), 12345);
    // A TIFF mark with a broken directory: nothing declared, the size again.
    writeBytes(dir.filePath("y.cr2"), QByteArray("II*\0\xff\xff\xff\x7f", 8) + QByteArray(100, 0));
    EXPECT_EQ(rawPixelEstimate(dir.filePath("y.cr2")), 108);
    EXPECT_EQ(rawPixelEstimate(dir.filePath("missing.dng")), 0);
}

TEST(MachineResourcesTest, MemoryAndCoresAreKnown) {
    EXPECT_GT(availableMemoryBytes(), 0);
    EXPECT_GE(availableCores(), 1);
    const DecoderLimits limits = decoderLimits(0, [] { return qint64{1234}; });
    EXPECT_EQ(limits.maxProcesses, availableCores());
    EXPECT_EQ(limits.memoryBudget, 1234);
    EXPECT_EQ(decoderLimits(3, {}).maxProcesses, 3);
}

std::vector<DecoderJob> jobs(const QStringList& names, qint64 bytes) {
    std::vector<DecoderJob> out;
    for (const QString& n : names)
        out.push_back({{"-v"}, "/d/" + n + ".dng", "/d/" + n + ".tiff", bytes});
    return out;
}

TEST(DecoderPoolTest, CoresAndMemoryBoundTheProcessesRunning) {
    FakeDecoder decoder;
    decoder.endWhenTiffWritten = false;
    DecoderPool pool;
    pool.reset("/bin/dcraw", jobs({"a", "b", "c", "d"}, 100), {3, 250});
    // Three cores, but memory for two.
    EXPECT_EQ(pool.startDue(decoder), (std::vector<size_t>{0, 1}));
    EXPECT_EQ(pool.running(decoder), 2);
    EXPECT_TRUE(pool.startDue(decoder).empty());
    decoder.end(0, false);
    EXPECT_EQ(pool.startDue(decoder), std::vector<size_t>{2});
    EXPECT_EQ(decoder.calls[2].arguments, (QStringList{"-v", "/d/c.dng"}));
    EXPECT_EQ(pool.entries()[2].run.tiff, "/d/c.tiff");
    EXPECT_EQ(pool.entries()[2].run.rawName, "c.dng");
    EXPECT_FALSE(pool.allSettled());
    for (size_t i = 0; i < 3; ++i) pool.settle(i, DecoderPool::Stage::Developed);
    EXPECT_FALSE(pool.allSettled());  // d has not started
    EXPECT_EQ(pool.count(DecoderPool::Stage::Waiting), 1);
}

TEST(DecoderPoolTest, ALargeFileStartsAloneAndSmallOnesDoNotOvertakeIt) {
    FakeDecoder decoder;
    decoder.endWhenTiffWritten = false;
    std::vector<DecoderJob> list = jobs({"small", "huge", "tiny"}, 10);
    list[1].memoryBytes = 1000;
    DecoderPool pool;
    pool.reset("/bin/dcraw", std::move(list), {4, 100});
    EXPECT_EQ(pool.startDue(decoder), std::vector<size_t>{0});
    decoder.end(0, false);
    EXPECT_EQ(pool.startDue(decoder), std::vector<size_t>{1});  // alone, over budget
    EXPECT_TRUE(pool.startDue(decoder).empty());
    decoder.end(1, false);
    EXPECT_EQ(pool.startDue(decoder), std::vector<size_t>{2});
}

TEST(DecoderPoolTest, WithoutAMemoryFigureOnlyCoresCount) {
    FakeDecoder decoder;
    decoder.endWhenTiffWritten = false;
    DecoderPool pool;
    pool.reset("/bin/dcraw", jobs({"a", "b", "c"}, qint64{1} << 40), {2, -1});
    EXPECT_EQ(pool.startDue(decoder).size(), 2u);
}

}  // namespace
