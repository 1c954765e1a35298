// The real launcher's side of dcraw_emu: its standard output kept with the
// messages, apart from the failure line; and the decoders' environment.
#include "develop/dcraw_messages.h"
#include "develop/dcraw_process.h"

#include <gtest/gtest.h>
#include <QThread>

namespace {

TEST(DecoderLaunchTest, StandardOutputKeptAndTheDecoderEnvironment) {
    DetachedLauncher launcher;
    const DcrawRun run = launcher.startKeepingOutput(
        "/bin/sh", {"-c", "echo \"Writing file x.tiff\"; echo \"$GLIBC_TUNABLES $OMP_WAIT_POLICY\" >&2"});
    for (int ms = 0; ms < 5000 && !launcher.ended(run); ms += 20) QThread::msleep(20);
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
