// Several decoder runs' messages read as one stream of prefixed lines.
#include "develop/dcraw_messages.h"

#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace {

void append(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(text);
}

TEST(DcrawMessageFeedTest, LinesArriveOnceEachUnderTheirFilesName) {
    QTemporaryDir dir;
    DcrawRun a, b;
    a.messagesPath = dir.filePath("a.log");
    a.rawName = "IMG_1.dng";
    b.messagesPath = dir.filePath("b.log");
    b.rawName = "IMG_2.dng";
    DcrawMessageFeed feed;
    feed.follow(a);
    feed.follow(b);
    feed.follow(a);                         // already followed
    EXPECT_TRUE(feed.readNew().isEmpty());  // nothing printed yet, no file yet

    append(a.messagesPath, "Loading IMG_1.dng ...\nAHD interp");
    append(b.messagesPath, "Loading IMG_2.dng ...\r\n\n");
    EXPECT_EQ(feed.readNew(), (QStringList{"IMG_1.dng: Loading IMG_1.dng ...",
                                           "IMG_2.dng: Loading IMG_2.dng ..."}));
    // A line is given whole, once its end has been printed.
    append(a.messagesPath, "olation...\nWriting");
    EXPECT_EQ(feed.readNew(), QStringList{"IMG_1.dng: AHD interpolation..."});
    EXPECT_TRUE(feed.readNew().isEmpty());
    // At the end, what was printed without a line end too.
    EXPECT_EQ(feed.readNew(true), QStringList{"IMG_1.dng: Writing"});
    EXPECT_TRUE(feed.readNew(true).isEmpty());

    feed.clear();
    append(b.messagesPath, "more\n");
    EXPECT_TRUE(feed.readNew().isEmpty());
}

}  // namespace
