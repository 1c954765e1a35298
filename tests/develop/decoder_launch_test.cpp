// The real launcher's side of the two decoders: identifying a file with the
// installed programs, keeping dcraw_emu's standard output, and the
// environment that makes decoders faster.
#include "develop/dcraw_messages.h"
#include "develop/dcraw_process.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

class Launcher : public DetachedLauncher {
  public:
    using DetachedLauncher::identifies;
};

void waitEnded(const DecoderLauncher& l, const DcrawRun& run) {
    QElapsedTimer clock;
    clock.start();
    while (!l.ended(run) && clock.elapsed() < 5000) QThread::msleep(20);
}

TEST(DecoderLaunchTest, IdentificationByTheInstalledDecoders) {
    QTemporaryDir dir;
    QProcess::execute(ORRINDALE_MAKE_BRACKET, {"--count", "1", "--width", "64", "--height", "48",
                                               "--out", dir.path()});
    const QString dng = dir.filePath("IMG_0001.dng"), text = dir.filePath("notes.CR3");
    writeBytes(text, "not a photograph\n");
    Launcher launcher;
    EXPECT_TRUE(launcher.identifies(Decoder::dcraw(), dng));
    EXPECT_FALSE(launcher.identifies(Decoder::dcraw(), text));
    if (!QFile::exists(RutaLibRaw)) GTEST_SKIP() << "libraw-bin is not installed";
    EXPECT_TRUE(launcher.identifies(Decoder::libRaw(), dng));
    EXPECT_FALSE(launcher.identifies(Decoder::libRaw(), text));
}

TEST(DecoderLaunchTest, StandardOutputKeptAndTheDecoderEnvironment) {
    DetachedLauncher launcher;
    const DcrawRun run = launcher.startKeepingOutput(
        "/bin/sh", {"-c", "echo \"Writing file x.tiff\"; echo \"$GLIBC_TUNABLES $OMP_WAIT_POLICY\" >&2"});
    waitEnded(launcher, run);
    ASSERT_FALSE(run.progressPath.isEmpty());
    // Errors alone make the failure line; progress goes with them to the messages.
    EXPECT_EQ(lastMessageLine(run), "glibc.malloc.hugetlb=1 passive");
    DcrawMessageFeed feed;
    DcrawRun named = run;
    named.rawName = "x.CR3";
    feed.follow(named);
    EXPECT_TRUE(feed.readNew(true).contains("x.CR3: Writing file x.tiff"));
}

}  // namespace
