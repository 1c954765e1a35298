// Listing a folder into the RAW file set.
#include "develop/raw_set.h"
#include "support/recording_reporter.h"
#include "tests/common/test_images.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class RawSetTest : public ::testing::Test {
protected:
    void touch(const QString& name) { writeBytes(dir.filePath(name), "raw"); }
    QString path(const QString& name) const { return dir.path() + "/" + name; }
    QTemporaryDir dir;
    RecordingReporter rep;
    QStringList set;
};

TEST_F(RawSetTest, ThreeFilesSortedIgnoringCaseWithOthersLeftOut) {
    touch("IMG_3.CR2");
    touch("img_1.cr2");
    touch("Img_2.Cr2");
    touch("IMG_4.NEF");
    touch(".IMG_5.CR2");
    touch("notes.txt");
    QDir(dir.path()).mkdir("folder.cr2");
    const RawListing l = LeerArchivosRAW(path("Img_2.Cr2"), set, rep);
    EXPECT_EQ(set, (QStringList{"img_1.cr2", "Img_2.Cr2", "IMG_3.CR2"}));
    EXPECT_EQ(l.filesText, "img_1.cr2\r\nImg_2.Cr2\r\nIMG_3.CR2\r\n");
    EXPECT_EQ(l.reference, path("Img_2.Cr2"));
    EXPECT_EQ(rep.log, "3 RAW files selected in path\r\n");
    EXPECT_TRUE(rep.boxes.empty());
}

TEST_F(RawSetTest, ExactlyTenAreAllTakenWithoutComplaint) {
    for (int i = 0; i < 10; ++i) touch(QString("f%1.dng").arg(i));
    const RawListing l = LeerArchivosRAW(path("f3.dng"), set, rep);
    EXPECT_EQ(set.size(), 10);
    EXPECT_EQ(l.reference, path("f3.dng"));
    EXPECT_TRUE(rep.boxes.empty());
    EXPECT_EQ(rep.log, "10 RAW files selected in path\r\n");
}

TEST_F(RawSetTest, MoreThanTenTakeTheFirstTenAndTheTenthBecomesTheReference) {
    for (int i = 0; i < 12; ++i) touch(QString("f%1.dng").arg(i, 2, 10, QChar('0')));
    const RawListing l = LeerArchivosRAW(path("f11.dng"), set, rep);
    ASSERT_EQ(set.size(), 10);
    EXPECT_EQ(set.front(), "f00.dng");
    EXPECT_EQ(set.back(), "f09.dng");
    EXPECT_EQ(l.reference, path("f09.dng"));
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_EQ(rep.boxes[0].title, "ERROR");
    EXPECT_EQ(rep.boxes[0].text,
              "No more than 10 RAW files allowed.  Only the current 10 files are selected");
}

TEST_F(RawSetTest, NothingListedKeepsThePreviousSet) {
    set = QStringList{"old1.cr2", "old2.cr2"};
    touch(".hidden.cr2");
    const RawListing l = LeerArchivosRAW(path(".hidden.cr2"), set, rep);
    EXPECT_TRUE(l.listed);
    EXPECT_EQ(l.filesText, "");
    EXPECT_EQ(set, (QStringList{"old1.cr2", "old2.cr2"}));
}

TEST_F(RawSetTest, AReferenceWithoutExtensionIsReported) {
    touch("noext");
    const RawListing l = LeerArchivosRAW(path("noext"), set, rep);
    EXPECT_FALSE(l.listed);
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.startsWith("Unexpected error occurred in module LeerArchivosRAW"));
}

TEST(DecoderMessageTest, NamesThePath) {
    RecordingReporter rep;
    AvisarDCRAWNoEncontrado(rep, "/usr/bin/dcraw");
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_EQ(rep.boxes[0].text, "DCRAW not found in '/usr/bin/dcraw'");
}

}  // namespace
