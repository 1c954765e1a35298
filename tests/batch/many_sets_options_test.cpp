// The options for many sets: lists, the output folder's check, and how many
// sets run at once on what cores and memory.
#include "batch/batch_jobs.h"
#include "batch/batch_options.h"
#include "tests/common/qt_printers.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

TEST(ManySetsOptions, ListsJoinTheCommandLineAndBadValuesAreUsageErrors) {
    QTemporaryDir dir;
    const QString raw = dir.path() + "/IMG_1.CR2", list = dir.path() + "/sets.txt";
    QFile(raw).open(QIODevice::WriteOnly);
    QFile l(list);
    ASSERT_TRUE(l.open(QIODevice::WriteOnly));
    l.write("# header\n\n  \n/x/missing.dng\r\n  # indented comment\nrelative.dng\n");
    l.close();
    const ParsedOptions p =
        parseBatchOptions({"--sets-from", list, raw, "--out", dir.path() + "/out", "--jobs", "3",
                           "--stable-names", "--wb", "camera"});
    ASSERT_TRUE(p.options) << p.error.toStdString();
    // A missing file in a list is that set's failure later, not a usage error.
    EXPECT_EQ(
        p.options->references,
        (QStringList{raw, "/x/missing.dng", QDir::current().absoluteFilePath("relative.dng")}));
    EXPECT_EQ(p.options->jobs, 3);
    EXPECT_TRUE(QDir(dir.path() + "/out").exists());
    // What a child running one set is given: no list, no jobs, no reference.
    EXPECT_EQ(p.options->setArguments,
              (QStringList{"--out", dir.path() + "/out", "--stable-names", "--wb", "camera"}));

    QFile(dir.path() + "/file").open(QIODevice::WriteOnly);
    const struct {
        QStringList args;
        const char* error;
    } bad[] = {
        {{"--out", dir.path() + "/file/sub"}, "--out: cannot write to"},
        {{"--out", "/proc/orrindale"}, "--out: cannot write to"},
        {{"--sets-from", dir.path() + "/none.txt"}, "--sets-from: cannot read"},
        {{"--jobs", "0"}, "--jobs takes a whole number from 1"},
        {{"--report", dir.path() + "/file/r.jsonl"}, "--report: cannot write to"},
    };
    for (const auto& b : bad) {
        const ParsedOptions e = parseBatchOptions(b.args + QStringList{raw});
        EXPECT_FALSE(e.options);
        EXPECT_TRUE(e.error.startsWith(b.error)) << e.error.toStdString();
    }
}

TEST(ManySetsOptions, SetsAtOnceFitTheMemoryAndShareTheCores) {
    constexpr qint64 GiB = qint64{1} << 30;
    EXPECT_EQ(setsThatFit(4, 2 * GiB, 9 * GiB), 4);
    EXPECT_EQ(setsThatFit(4, 2 * GiB, 5 * GiB), 2);
    EXPECT_EQ(setsThatFit(4, 2 * GiB, GiB), 1);  // one set always runs
    EXPECT_EQ(setsThatFit(4, 2 * GiB, -1), 4);   // memory unknown
    EXPECT_EQ(threadsPerSet(2, 2), 1);
    EXPECT_EQ(threadsPerSet(8, 3), 2);
    EXPECT_EQ(threadsPerSet(2, 4), 1);  // never none
}

}  // namespace
