// Image records: TIFF round trips, the input layouts users hand us, and every
// bad file failing cleanly while the caller's image stays.
#include "support/gfl_bitmap.h"
#include "support/recording_reporter.h"
#include "support/tiff_io.h"
#include "tests/common/test_images.h"

#include <tiffio.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class GflBitmapTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    // The module text of the single unexpected-error box, or "" when none.
    QString reportedModule() const {
        if (rep.boxes.size() != 1) return {};
        const QString first = rep.boxes[0].text.section(QStringLiteral("\r\n"), 0, 0);
        return first.mid(QStringLiteral("Unexpected error occurred in module ").size()).chopped(1);
    }
    QTemporaryDir dir;
    RecordingReporter rep;
};

uint16_t compressionOf(const QString& file) {
    TIFF* tif = TIFFOpen(QFile::encodeName(file).constData(), "r");
    uint16_t c = 0, predictor = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &c);
    TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor);
    TIFFClose(tif);
    return static_cast<uint16_t>(c * 10 + predictor);
}

TEST_F(GflBitmapTest, SixteenBitRoundTripIsExactAndLzwWithPredictor) {
    const GflBitmap original = randomBitmap(123, 77, 1);
    ASSERT_FALSE(GuardarGflBitmap(original, path("a.tiff"), rep));
    EXPECT_EQ(compressionOf(path("a.tiff")), COMPRESSION_LZW * 10 + PREDICTOR_HORIZONTAL);
    GflBitmap loaded;
    ASSERT_FALSE(CargarGflBitmap(path("a.tiff"), loaded, rep));
    EXPECT_EQ(loaded.width, 123);
    EXPECT_EQ(loaded.height, 77);
    EXPECT_EQ(loaded.pixels, original.pixels);
    EXPECT_TRUE(rep.boxes.empty());
    EXPECT_FALSE(QFile::exists(path("a.tiff.part")));
}

TEST_F(GflBitmapTest, SavingToAPngNameStillWritesTiff) {
    const GflBitmap original = randomBitmap(5, 4, 2);
    ASSERT_FALSE(GuardarGflBitmap(original, path("x.png"), rep));
    EXPECT_TRUE(readBytes(path("x.png")).startsWith(QByteArray("II*\0", 4)));
    GflBitmap loaded;
    ASSERT_FALSE(CargarGflBitmap(path("x.png"), loaded, rep));
    EXPECT_EQ(loaded.pixels, original.pixels);
}

TEST_F(GflBitmapTest, ReadsEveryLayoutUsersHandUs) {
    const GflBitmap image = randomBitmap(37, 29, 3);
    struct Case {
        const char* name;
        TiffLayout layout;
    };
    const Case cases[] = {
        {"rgb16 none", {16, 3, COMPRESSION_NONE}},
        {"rgb16 lzw", {16, 3, COMPRESSION_LZW}},
        {"rgb16 deflate", {16, 3, COMPRESSION_ADOBE_DEFLATE}},
        {"rgb16 packbits", {16, 3, COMPRESSION_PACKBITS}},
        {"rgb16 tiled", {16, 3, COMPRESSION_LZW, true}},
        {"rgb16 separate", {16, 3, COMPRESSION_NONE, false, true}},
        {"rgb16 tiled separate", {16, 3, COMPRESSION_NONE, true, true}},
        {"rgba16", {16, 4, COMPRESSION_NONE}},
        {"rgb8", {8, 3, COMPRESSION_NONE}},
        {"rgba8 lzw", {8, 4, COMPRESSION_LZW}},
        {"grey16", {16, 1, COMPRESSION_NONE}},
        {"grey8 packbits", {8, 1, COMPRESSION_PACKBITS}},
        {"grey+alpha16", {16, 2, COMPRESSION_NONE}},
        {"grey16 min-is-white", {16, 1, COMPRESSION_NONE, false, false, false, true}},
        {"grey8 tiled", {8, 1, COMPRESSION_ADOBE_DEFLATE, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(QString::fromLatin1(c.name).replace(' ', '_') + ".tif");
        writeTestTiff(file, image, c.layout);
        GflBitmap loaded;
        ASSERT_FALSE(CargarGflBitmap(file, loaded, rep)) << rep.log.toStdString();
        ASSERT_EQ(loaded.width, image.width);
        ASSERT_EQ(loaded.height, image.height);
        const bool grey = c.layout.samples < 3;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                for (int ch = 0; ch < 3; ++ch) {
                    int want = image.row(y)[x * 3 + (grey ? 0 : ch)];
                    if (c.layout.bits == 8) want = (want >> 8) * 257;
                    ASSERT_EQ(loaded.row(y)[x * 3 + ch], want) << x << "," << y << "," << ch;
                }
    }
}

TEST_F(GflBitmapTest, PaletteImagesReadThroughTheirColourMap) {
    const GflBitmap image = randomBitmap(23, 17, 9);
    for (const int bits : {8, 16}) {
        SCOPED_TRACE(bits);
        TiffLayout layout{bits, 1, bits == 8 ? COMPRESSION_LZW : COMPRESSION_PACKBITS};
        layout.palette = true;
        const QString file = path(QStringLiteral("palette%1.tif").arg(bits));
        writeTestTiff(file, image, layout);
        GflBitmap loaded;
        ASSERT_FALSE(CargarGflBitmap(file, loaded, rep)) << rep.log.toStdString();
        ASSERT_EQ(loaded.width, 23);
        ASSERT_EQ(loaded.height, 17);
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) {
                // The index is the red channel as the layout stores it.
                const int red = image.row(y)[x * 3];
                uint16_t want[3];
                testPaletteEntry(bits == 8 ? red >> 8 : red, 1 << bits, want);
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(loaded.row(y)[x * 3 + c], want[c]) << x << "," << y << "," << c;
            }
    }
}

TEST_F(GflBitmapTest, BadFilesFailCleanlyAndKeepThePreviousImage) {
    const GflBitmap previous = randomBitmap(8, 6, 4);
    const GflBitmap big = randomBitmap(40, 40, 5);

    writeBytes(path("empty.tiff"), QByteArray());
    writeBytes(path("text.tiff"), QByteArray("this is not a picture\n"));
    writeTestTiff(path("float.tiff"), big, {32, 3, COMPRESSION_NONE, false, false, true});
    writeTestTiff(path("bilevel.tiff"), big, {1, 1, COMPRESSION_NONE});
    // Truncated: the header promises more pixel data than the file holds.
    QByteArray whole = headerFirstTiff(big);
    writeBytes(path("truncated.tiff"), whole.left(whole.size() / 2));
    // Truncated compressed data: the reader must notice while decoding.
    writeTestTiff(path("whole_lzw.tiff"), big, {16, 3, COMPRESSION_LZW});
    whole = readBytes(path("whole_lzw.tiff"));
    QByteArray cut = whole;
    // LZW strips come first in libtiff's files; overwrite them with garbage.
    for (int i = 8; i < cut.size() / 2; ++i) cut[i] = static_cast<char>(i * 7);
    writeBytes(path("garbled_lzw.tiff"), cut);

    struct Case {
        const char* file;
        const char* mentions;  // part of the message that must be shown
    };
    const Case cases[] = {
        {"missing.tiff", "No such file"},
        {"empty.tiff", ""},
        {"text.tiff", ""},
        {"float.tiff", "32-bit floating point"},
        {"bilevel.tiff", "1-bit"},
        {"truncated.tiff", "truncated"},
        {"garbled_lzw.tiff", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        rep = RecordingReporter();
        GflBitmap record = previous;
        EXPECT_TRUE(CargarGflBitmap(path(c.file), record, rep));
        EXPECT_EQ(record.width, previous.width);
        EXPECT_EQ(record.pixels, previous.pixels);
        ASSERT_EQ(rep.boxes.size(), 1u);
        EXPECT_EQ(rep.boxes[0].title, "ERROR");
        const QString module = reportedModule();
        EXPECT_TRUE(module.startsWith("gflLoadBitmap [")) << module.toStdString();
        EXPECT_TRUE(module.endsWith("]"));
        EXPECT_GT(module.size(), QString("gflLoadBitmap []").size());
        EXPECT_TRUE(module.contains(QLatin1String(c.mentions))) << module.toStdString();
        // A library failure has no pending run-time failure: number 0, empty text.
        EXPECT_TRUE(rep.boxes[0].text.contains("Error number 0, described as ''"));
        EXPECT_EQ(rep.log, "An unexpected error occurred\r\n");
    }
}

// A header that declares 100000 x 100000 pixels must be refused from the
// header alone: nothing that large may be allocated.
TEST_F(GflBitmapTest, AbsurdDimensionsAreRefusedBeforeAllocating) {
    writeTestTiff(path("small.tiff"), randomBitmap(4, 4, 6), {16, 3, COMPRESSION_LZW});
    QByteArray bytes = readBytes(path("small.tiff"));
    // Patch the width and height entries of the first directory (little endian).
    const auto u32 = [&](int at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
               (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8) |
               (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16) |
               (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24);
    };
    const uint32_t ifd = u32(4);
    const int entries = static_cast<uint8_t>(bytes[ifd]) | (static_cast<uint8_t>(bytes[ifd + 1]) << 8);
    for (int e = 0; e < entries; ++e) {
        const int at = static_cast<int>(ifd) + 2 + e * 12;
        const int tag = static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8);
        if (tag == 256 || tag == 257) {
            bytes[at + 2] = 4;  // type LONG
            bytes[at + 3] = 0;
            const uint32_t v = 100000;
            for (int k = 0; k < 4; ++k) bytes[at + 8 + k] = static_cast<char>((v >> (8 * k)) & 255);
        }
    }
    writeBytes(path("huge.tiff"), bytes);
    GflBitmap record;
    EXPECT_TRUE(CargarGflBitmap(path("huge.tiff"), record, rep));
    EXPECT_TRUE(record.empty());
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.contains("gflLoadBitmap [")) << rep.boxes[0].text.toStdString();
}

TEST_F(GflBitmapTest, LoadingIntoAnOccupiedRecordReplacesIt) {
    const GflBitmap a = randomBitmap(10, 10, 7), b = randomBitmap(3, 2, 8);
    ASSERT_FALSE(GuardarGflBitmap(b, path("b.tiff"), rep));
    GflBitmap record = a;
    ASSERT_FALSE(CargarGflBitmap(path("b.tiff"), record, rep));
    EXPECT_EQ(record.width, 3);
    EXPECT_EQ(record.pixels, b.pixels);
    ASSERT_FALSE(CargarGflBitmap(path("b.tiff"), record, rep));  // same path twice: one image
    EXPECT_EQ(record.pixels.size(), b.pixels.size());
    LiberarGflBitmap(record);
    EXPECT_TRUE(record.empty());
    EXPECT_EQ(record.pixels.capacity(), 0u);
}

TEST_F(GflBitmapTest, SavingIntoAMissingOrReadOnlyFolderFailsWithTheLibraryMessage) {
    const GflBitmap image = randomBitmap(4, 4, 9);
    EXPECT_TRUE(GuardarGflBitmap(image, path("no/such/folder/x.tiff"), rep));
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_TRUE(rep.boxes[0].text.contains("gflSaveBitmap [")) << rep.boxes[0].text.toStdString();
    EXPECT_TRUE(rep.boxes[0].text.contains("No such file or directory"));

    if (geteuid() != 0) {  // root writes anywhere; the check means nothing then
        QDir().mkdir(path("locked"));
        chmod(QFile::encodeName(path("locked")).constData(), 0555);
        rep = RecordingReporter();
        EXPECT_TRUE(GuardarGflBitmap(image, path("locked/x.tiff"), rep));
        EXPECT_EQ(rep.boxes.size(), 1u);
    }
    rep = RecordingReporter();
    EXPECT_TRUE(GuardarGflBitmap(GflBitmap(), path("empty.tiff"), rep));
    EXPECT_FALSE(QFile::exists(path("empty.tiff")));
}

TEST_F(GflBitmapTest, FailedSaveKeepsTheExistingFile) {
    const GflBitmap image = randomBitmap(4, 4, 10);
    ASSERT_FALSE(GuardarGflBitmap(image, path("keep.tiff"), rep));
    const QByteArray before = readBytes(path("keep.tiff"));
    EXPECT_TRUE(GuardarGflBitmap(GflBitmap(), path("keep.tiff"), rep));
    EXPECT_EQ(readBytes(path("keep.tiff")), before);
}

TEST(CanalTest, EscribirCanal16ClipsAndStoresThePattern) {
    int32_t v = 70000;
    EXPECT_EQ(EscribirCanal16(v), -1);
    EXPECT_EQ(v, 65535);
    v = 40000;
    const int16_t stored = EscribirCanal16(v);
    EXPECT_EQ(stored, 40000 - 65536);
    EXPECT_EQ(v, 40000);
    EXPECT_EQ(LeerCanal16(stored), 40000);
    v = 0;
    EXPECT_EQ(EscribirCanal16(v), 0);
    v = 32767;
    EXPECT_EQ(LeerCanal16(EscribirCanal16(v)), 32767);
    v = 32768;
    EXPECT_EQ(EscribirCanal16(v), -32768);
}

TEST_F(GflBitmapTest, CompletenessCheckRejectsAFileStillBeingWritten) {
    const QByteArray bytes = headerFirstTiff(randomBitmap(50, 20, 11));
    writeBytes(path("w.tiff"), bytes);
    EXPECT_TRUE(tiffFileIsComplete(path("w.tiff")));
    GflBitmap loaded;
    EXPECT_FALSE(CargarGflBitmap(path("w.tiff"), loaded, rep));
    for (int cut : {0, 8, 100, static_cast<int>(bytes.size()) - 1}) {
        writeBytes(path("partial.tiff"), bytes.left(cut));
        EXPECT_FALSE(tiffFileIsComplete(path("partial.tiff"))) << cut;
    }
    EXPECT_FALSE(tiffFileIsComplete(path("absent.tiff")));
}

}  // namespace
