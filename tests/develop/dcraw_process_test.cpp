// Detached decoder processes: they outlive their starter, their end is seen,
// their messages are kept, and a run completes only with a whole TIFF.
#include "develop/dcraw_process.h"
#include "tests/common/test_images.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

bool waitEnded(const DetachedLauncher& l, const DcrawRun& run, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!l.ended(run) && clock.elapsed() < ms) QThread::msleep(20);
    return l.ended(run);
}

TEST(DetachedLauncherTest, SeesTheEndAndKeepsTheMessages) {
    DetachedLauncher launcher;
    const DcrawRun run =
        launcher.start("/bin/sh", {"-c", "echo first >&2; echo 'last line' >&2; sleep 0.3"});
    ASSERT_GT(run.pid, 0);
    EXPECT_FALSE(launcher.ended(run));
    ASSERT_TRUE(waitEnded(launcher, run, 5000));
    EXPECT_EQ(lastMessageLine(run), "last line");
    EXPECT_EQ(allMessages(run), "first\nlast line\n");
}

TEST(DetachedLauncherTest, AProgramThatCannotStartHasEnded) {
    DetachedLauncher launcher;
    const DcrawRun run = launcher.start("/nonexistent/dcraw", {"-v"});
    EXPECT_EQ(run.pid, 0);
    EXPECT_TRUE(launcher.ended(run));
    EXPECT_EQ(lastMessageLine(run), "");
}

TEST(DetachedLauncherTest, TheProcessOutlivesTheLauncher) {
    DcrawRun run;
    {
        DetachedLauncher launcher;
        run = launcher.start("/bin/sleep", {"5"});
    }
    DetachedLauncher other;
    EXPECT_FALSE(other.ended(run));
    ::kill(static_cast<pid_t>(run.pid), SIGTERM);
    EXPECT_TRUE(waitEnded(other, run, 5000));
}

TEST(CheckRunTest, CompleteOnlyWithAWholeTiff) {
    QTemporaryDir dir;
    DetachedLauncher launcher;
    DcrawRun run = launcher.start("/bin/sleep", {"30"});
    run.tiff = dir.filePath("x.tiff");
    EXPECT_EQ(checkRun(run, launcher), RunState::Pending);
    const QByteArray whole = headerFirstTiff(randomBitmap(40, 30, 1));
    writeBytes(run.tiff, whole.left(whole.size() - 10));
    EXPECT_EQ(checkRun(run, launcher), RunState::Pending);
    writeBytes(run.tiff, whole);
    EXPECT_EQ(checkRun(run, launcher), RunState::Complete);
    writeBytes(run.tiff, whole.left(200));
    ::kill(static_cast<pid_t>(run.pid), SIGTERM);
    ASSERT_TRUE(waitEnded(launcher, run, 5000));
    // Ended with a broken file: nothing more will come.
    EXPECT_EQ(checkRun(run, launcher), RunState::Failed);
}

TEST(CheckRunTest, APartialFileBecomesTheTiffOnlyWholeAndOnceTheDecoderHasEnded) {
    QTemporaryDir dir;
    const QByteArray whole = headerFirstTiff(randomBitmap(40, 30, 1));
    for (const bool isWhole : {true, false}) {
        DetachedLauncher launcher;
        DcrawRun run = launcher.launch({"/bin/sleep", {"0.3"}, false, {}, {}, {}});
        run.tiff = dir.filePath(isWhole ? "whole.tiff" : "broken.tiff");
        run.partial = dir.filePath(".out.tiff.part");
        writeBytes(run.partial, isWhole ? whole : whole.left(200));
        EXPECT_EQ(checkRun(run, launcher), RunState::Pending);
        ASSERT_TRUE(waitEnded(launcher, run, 5000));
        EXPECT_EQ(checkRun(run, launcher), isWhole ? RunState::Complete : RunState::Failed);
        EXPECT_FALSE(QFile::exists(run.partial));
        EXPECT_EQ(QFile::exists(run.tiff), isWhole);
    }
}

TEST(DetachedLauncherTest, StopAllEndsItsDecodersRemovesTheirFilesAndStartsNoMore) {
    QTemporaryDir dir;
    const QString partial = dir.filePath(".a.tiff.part"), beside = dir.filePath("b.tiff");
    DetachedLauncher launcher;
    const DcrawRun a = launcher.launch({"/bin/sleep", {"30"}, false, {}, dir.filePath("a.tiff"), partial});
    const DcrawRun b = launcher.launch({"/bin/sleep", {"30"}, false, {}, beside, {}});
    writeBytes(partial, "half");
    writeBytes(beside, "half");
    EXPECT_EQ(launcher.stopAll(), 2);
    EXPECT_TRUE(launcher.ended(a));
    EXPECT_TRUE(launcher.ended(b));
    EXPECT_FALSE(QFile::exists(partial));
    EXPECT_FALSE(QFile::exists(beside));
    EXPECT_EQ(launcher.start("/bin/sleep", {"30"}).pid, 0);
}

TEST(CheckRunTest, TiffNameOfARawFile) {
    EXPECT_EQ(tiffDeRaw("/a/IMG_1.CR2"), "/a/IMG_1.tiff");
    EXPECT_EQ(tiffDeRaw("/a/b.c.nef"), "/a/b.c.tiff");
    EXPECT_EQ(tiffDeRaw("/a/IMG_1.CR2", "/out/IMG_1/"), "/out/IMG_1/IMG_1.tiff");
    EXPECT_EQ(tiffDeRaw("/a/IMG_1.CR2", ""), "/a/IMG_1.tiff");
}

}  // namespace
