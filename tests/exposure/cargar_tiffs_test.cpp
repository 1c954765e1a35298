// Loading the developed TIFF set: order, missing and undecodable files, size
// checks, and a loaded set surviving a call with too few RAW files.
#include "pipeline/calc_ev.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QTemporaryDir>

namespace {

class CargarTIFFsTest : public ::testing::Test {
  protected:
    void SetUp() override { folder = dir.path() + QStringLiteral("/"); }
    void TearDown() override { setParallelThreads(0); }

    // Writes distinct W x H images under the given TIFF names.
    std::vector<GflBitmap> write(const QStringList& names, int w = 6, int h = 4) {
        std::vector<GflBitmap> images;
        for (qsizetype i = 0; i < names.size(); ++i)
            images.push_back(randomBitmap(w, h, static_cast<uint32_t>(100 + i)));
        writeTiffSet(folder, names, images);
        return images;
    }
    QString ref() const { return folder + QStringLiteral("IMG_1.CR2"); }

    QTemporaryDir dir;
    QString folder;
    RecordingReporter rep;
    ImageSet set;
};

const QStringList kThreeRaw = {"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2"};

TEST_F(CargarTIFFsTest, LoadsEveryTiffInRawOrderAndReloadsOnTheNextCall) {
    const auto images = write({"IMG_1.tiff", "IMG_2.tiff", "IMG_3.tiff"});
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(CargarTIFFs(ref(), kThreeRaw, set, rep), 3);
        EXPECT_EQ(rep.logLines(), QStringList{"Loading 3 TIFF files..."});
        EXPECT_TRUE(set.TIFFsCargados);
        EXPECT_EQ(set.ArchivosTIFF, QStringList({folder + "IMG_1.tiff", folder + "IMG_2.tiff",
                                                 folder + "IMG_3.tiff"}));
        ASSERT_EQ(set.ImagenesTIFF.size(), 3u);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(set.ImagenesTIFF[i].pixels, images[i].pixels);
        EXPECT_EQ(set.AnchoImagen, 6);
        EXPECT_EQ(set.AltoImagen, 4);
    }
    EXPECT_TRUE(rep.boxes.empty());
    EXPECT_EQ(rep.beeps, 0);
}

TEST_F(CargarTIFFsTest, MissingTiffsAreSkippedAndTheOthersKeepTheirOrder) {
    write({"IMG_1.tiff", "IMG_3.tiff", "IMG_4.tiff"});
    EXPECT_EQ(CargarTIFFs(ref(), {"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2", "IMG_4.CR2"}, set, rep),
              3);
    EXPECT_EQ(rep.logLines(),
              QStringList({"Loading 4 TIFF files...", "file IMG_2.tiff not found. Skipped"}));
    EXPECT_EQ(set.ArchivosTIFF,
              QStringList({folder + "IMG_1.tiff", folder + "IMG_3.tiff", folder + "IMG_4.tiff"}));
    EXPECT_EQ(set.ImagenesTIFF.size(), 3u);
}

TEST_F(CargarTIFFsTest, OneRawFileIsInsufficientAndALoadedSetStays) {
    const auto images = write({"IMG_1.tiff", "IMG_2.tiff"});
    ASSERT_EQ(CargarTIFFs(ref(), {"IMG_1.CR2", "IMG_2.CR2"}, set, rep), 2);
    rep.EscribirEstado("earlier line", true);
    EXPECT_EQ(CargarTIFFs(ref(), {"IMG_1.CR2"}, set, rep), 0);
    EXPECT_EQ(rep.logLines(), QStringList({"Loading 2 TIFF files...", "earlier line", "",
                                           "Insufficient TIFF files", "DONE"}));
    EXPECT_EQ(rep.beeps, 1);
    EXPECT_TRUE(set.TIFFsCargados);
    EXPECT_EQ(set.ImagenesTIFF[1].pixels, images[1].pixels);
}

TEST_F(CargarTIFFsTest, OnlyTheSecondOfThreeTiffsFound) {
    write({"IMG_2.tiff"});
    EXPECT_EQ(CargarTIFFs(ref(), kThreeRaw, set, rep), 1);
    EXPECT_EQ(
        rep.logLines(),
        QStringList({"Loading 3 TIFF files...", "file IMG_1.tiff not found. Skipped",
                     "file IMG_3.tiff not found. Skipped", "", "Insufficient TIFF files", "DONE"}));
    EXPECT_EQ(rep.beeps, 1);
    EXPECT_FALSE(set.TIFFsCargados);
    for (const GflBitmap& image : set.ImagenesTIFF) EXPECT_TRUE(image.empty());
}

TEST_F(CargarTIFFsTest, ASmallerThirdTiffIsADimensionMismatch) {
    write({"IMG_1.tiff", "IMG_2.tiff"});
    write({"IMG_3.tiff"}, 6, 3);
    EXPECT_EQ(CargarTIFFs(ref(), kThreeRaw, set, rep), -1);
    EXPECT_EQ(rep.logLines(),
              QStringList({"Loading 3 TIFF files...", "Image dimensions mismatch", "DONE"}));
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_EQ(rep.boxes[0].title, "ERROR");
    EXPECT_EQ(rep.boxes[0].text, "Image dimensions mismatch between IMG_1.tiff and IMG_3.tiff");
    EXPECT_EQ(rep.beeps, 0);
    EXPECT_FALSE(set.TIFFsCargados);
    for (const GflBitmap& image : set.ImagenesTIFF) EXPECT_TRUE(image.empty());
}

TEST_F(CargarTIFFsTest, OnlyTheLastExtensionOfTheRawNameIsReplaced) {
    ASSERT_TRUE(QDir(folder).mkdir("my.shots"));
    folder += QStringLiteral("my.shots/");
    write({"a.b.tiff", "c.tiff"});
    EXPECT_EQ(CargarTIFFs(folder + "a.b.nef", {"a.b.nef", "c.nef"}, set, rep), 2);
    EXPECT_EQ(set.ArchivosTIFF, QStringList({folder + "a.b.tiff", folder + "c.tiff"}));
}

// Fault mended: an undecodable file is reported by the image layer and then
// as a size mismatch naming it; it never passes as a 0 x 0 member of a set.
TEST_F(CargarTIFFsTest, UndecodableTiffsNeverFormASet) {
    write({"IMG_1.tiff", "IMG_3.tiff"});
    writeBytes(folder + "IMG_2.tiff", "not a tiff at all");
    EXPECT_EQ(CargarTIFFs(ref(), kThreeRaw, set, rep), -1);
    ASSERT_EQ(rep.boxes.size(), 2u);
    EXPECT_TRUE(
        rep.boxes[0].text.startsWith("Unexpected error occurred in module gflLoadBitmap ["));
    EXPECT_EQ(rep.boxes[1].text, "Image dimensions mismatch between IMG_1.tiff and IMG_2.tiff");
    // The library report restarts the log; the mismatch lines follow it.
    EXPECT_EQ(rep.logLines(),
              QStringList({"An unexpected error occurred", "Image dimensions mismatch", "DONE"}));
    EXPECT_FALSE(set.TIFFsCargados);

    // Every file undecodable: all "0 x 0", equal sizes, still no set.
    RecordingReporter allBad;
    ImageSet badSet;
    writeBytes(folder + "IMG_1.tiff", "junk");
    writeBytes(folder + "IMG_3.tiff", "junk");
    EXPECT_EQ(CargarTIFFs(ref(), kThreeRaw, badSet, allBad), -1);
    EXPECT_FALSE(badSet.TIFFsCargados);
    ASSERT_FALSE(allBad.boxes.empty());
    EXPECT_EQ(allBad.boxes.back().text,
              "Image dimensions mismatch between IMG_1.tiff and IMG_2.tiff");

    // The first file undecodable, the others fine.
    RecordingReporter firstBad;
    ImageSet firstBadSet;
    write({"IMG_2.tiff", "IMG_3.tiff"});
    EXPECT_EQ(CargarTIFFs(ref(), kThreeRaw, firstBadSet, firstBad), -1);
    ASSERT_EQ(firstBad.boxes.size(), 2u);
    EXPECT_TRUE(firstBad.boxes[0].text.contains("gflLoadBitmap ["));
    EXPECT_EQ(firstBad.boxes.back().text,
              "Image dimensions mismatch between IMG_1.tiff and IMG_2.tiff");
    EXPECT_FALSE(firstBadSet.TIFFsCargados);
}

TEST_F(CargarTIFFsTest, ParallelDecodingGivesTheSequentialLogAndSet) {
    write({"IMG_1.tiff", "IMG_3.tiff", "IMG_4.tiff", "IMG_6.tiff"}, 40, 30);
    writeBytes(folder + "IMG_7.tiff", "junk");
    const QStringList raw = {"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2", "IMG_4.CR2",
                             "IMG_5.CR2", "IMG_6.CR2", "IMG_7.CR2", "IMG_8.CR2"};
    // With and without the undecodable seventh file, whose report must come
    // after the lines of the files before it.
    for (const QStringList& list : {raw.mid(0, 6), raw}) {
        setParallelThreads(1);
        RecordingReporter single;
        ImageSet singleSet;
        const int expected = list.size() == 6 ? 4 : -1;
        ASSERT_EQ(CargarTIFFs(ref(), list, singleSet, single), expected);
        for (int threads : {2, 3}) {
            setParallelThreads(threads);
            RecordingReporter r;
            ImageSet s;
            EXPECT_EQ(CargarTIFFs(ref(), list, s, r), expected);
            EXPECT_EQ(r.log, single.log);
            ASSERT_EQ(r.boxes.size(), single.boxes.size());
            for (size_t i = 0; i < r.boxes.size(); ++i)
                EXPECT_EQ(r.boxes[i].text, single.boxes[i].text);
            EXPECT_EQ(s.ArchivosTIFF, singleSet.ArchivosTIFF);
            EXPECT_EQ(s.TIFFsCargados, expected > 0);
            for (size_t i = 0; i < s.ImagenesTIFF.size(); ++i)
                EXPECT_EQ(s.ImagenesTIFF[i].pixels, singleSet.ImagenesTIFF[i].pixels);
        }
    }
}

TEST_F(CargarTIFFsTest, ARawNameWithoutExtensionIsAnUnexpectedError) {
    write({"IMG_1.tiff", "IMG_2.tiff"});
    EXPECT_EQ(CargarTIFFs(ref(), {"IMG_1.CR2", "IMG_2"}, set, rep), -1);
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.startsWith(
        "Unexpected error occurred in module CargarTIFFs \r\nError number 5, "));
    EXPECT_EQ(rep.logLines(), QStringList{"An unexpected error occurred"});
    EXPECT_FALSE(set.TIFFsCargados);
    for (const GflBitmap& image : set.ImagenesTIFF) EXPECT_TRUE(image.empty());
}

}  // namespace

namespace {

// A frame decoded ahead is taken as it is only while its file is the version
// it was decoded from; its marker pixels show which way each image came.
TEST_F(CargarTIFFsTest, FramesDecodedAheadAreTakenOnlyWhileTheirFileIsUnchanged) {
    const auto images = write({"IMG_1.tiff", "IMG_2.tiff", "IMG_3.tiff"});
    const GflBitmap marker = randomBitmap(6, 4, 7);
    for (const char* name : {"IMG_1.tiff", "IMG_2.tiff"})
        set.TIFFsPrecargados.push_back({folder + name, fileStamp(folder + name), marker});
    writeTiffSet(folder, {"IMG_2.tiff"}, {images[1]});  // rewritten since
    EXPECT_EQ(CargarTIFFs(ref(), kThreeRaw, set, rep), 3);
    EXPECT_EQ(set.ImagenesTIFF[0].pixels, marker.pixels);
    EXPECT_EQ(set.ImagenesTIFF[1].pixels, images[1].pixels);
    EXPECT_EQ(set.ImagenesTIFF[2].pixels, images[2].pixels);
    EXPECT_EQ(set.SellosTIFF[0], fileStamp(folder + "IMG_1.tiff"));
    EXPECT_TRUE(set.TIFFsPrecargados.empty());
    EXPECT_EQ(rep.logLines(), QStringList{"Loading 3 TIFF files..."});
}

}  // namespace
