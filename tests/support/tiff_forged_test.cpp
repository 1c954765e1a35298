// TIFF headers that promise more than their files hold: refused before the
// pixel buffer is allocated, with a message that says why.
#include "support/gfl_bitmap.h"
#include "support/recording_reporter.h"
#include "support/tiff_io.h"
#include "tests/common/process_usage.h"
#include "tests/common/test_images.h"

#include <tiffio.h>

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace {

class TiffForgedTest : public ::testing::Test {
  protected:
    QString path(const QString& name) const { return dir.filePath(name); }

    // The message of a failed read, or "" when the file read.
    static QString readFailure(const QString& file) {
        GflBitmap image;
        try {
            readTiffRgb16(file, image);
        } catch (const TiffError& e) {
            return e.message();
        }
        return {};
    }

    // A directory claiming width x height, compressed with `compression`,
    // whose one strip holds `bytes` bytes of nonsense.
    void writeClaim(const QString& file, uint32_t width, uint32_t height, uint16_t compression,
                    int bytes) {
        TIFF* tif = TIFFOpen(QFile::encodeName(file).constData(), "w");
        ASSERT_NE(tif, nullptr);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
        std::vector<uint8_t> junk(static_cast<size_t>(bytes), 0x5A);
        TIFFWriteRawStrip(tif, 0, junk.data(), bytes);
        TIFFClose(tif);
    }

    QTemporaryDir dir;
};

// A 16384 x 16384 image would take 1.5 GiB decoded: from a file of a few
// hundred bytes nothing may be allocated for it.
TEST_F(TiffForgedTest, ASmallFileClaimingAHugeImageIsRefusedBeforeAllocating) {
    struct Case {
        const char* name;
        uint16_t compression;
    };
    for (const Case& c : {Case{"lzw", COMPRESSION_LZW}, Case{"deflate", COMPRESSION_ADOBE_DEFLATE},
                          Case{"packbits", COMPRESSION_PACKBITS}, Case{"none", COMPRESSION_NONE}}) {
        SCOPED_TRACE(c.name);
        const QString file = path(QString::fromLatin1(c.name) + ".tif");
        writeClaim(file, 16384, 16384, c.compression, 300);
        ASSERT_LT(QFile(file).size(), 2000);
        QString message;
        const long long growth = peakResidentGrowth([&] { message = readFailure(file); });
        EXPECT_TRUE(message.contains("too few for a 16384 x 16384 image") ||
                    message.contains("truncated"))
            << message.toStdString();
        if (growth >= 0) {
            EXPECT_LT(growth, 64LL << 20);
        }
    }
}

// The bound is the codec's best case, so a legitimately well-compressed
// picture still reads: a flat 512 x 512 image shrinks far below its size.
TEST_F(TiffForgedTest, WellCompressedFlatImagesStillRead) {
    GflBitmap flat;
    flat.width = 512;
    flat.height = 512;
    flat.pixels.assign(flat.sampleCount(), 0);
    for (const uint16_t compression :
         {COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS}) {
        SCOPED_TRACE(compression);
        TiffLayout layout{16, 3, compression};
        layout.rowsPerStrip = 512;
        const QString file = path(QStringLiteral("flat%1.tif").arg(compression));
        writeTestTiff(file, flat, layout);
        EXPECT_EQ(readFailure(file), QString());
    }
}

// A tiled file whose last tile lies past its end: every tile is checked, not
// only as many as the file would have strips.
TEST_F(TiffForgedTest, ATileBeyondTheEndIsFoundTruncated) {
    const GflBitmap image = randomBitmap(64, 48, 3);
    writeTestTiff(path("tiled.tif"), image, {16, 3, COMPRESSION_NONE, true, true});
    ASSERT_EQ(readFailure(path("tiled.tif")), QString());
    TIFF* tif = TIFFOpen(QFile::encodeName(path("tiled.tif")).constData(), "r");
    ASSERT_NE(tif, nullptr);
    const uint32_t tiles = TIFFNumberOfTiles(tif);
    const uint64_t lastOffset = TIFFGetStrileOffset(tif, tiles - 1);
    TIFFClose(tif);
    ASSERT_EQ(tiles, 4u * 3u * 3u);  // 4 x 3 tiles of 16 x 16, three planes
    // The offsets array sits in the directory, which libtiff writes last.
    QByteArray bytes = readBytes(path("tiled.tif"));
    QByteArray pattern(4, '\0'), beyond(4, '\0');
    const auto past = static_cast<uint32_t>(bytes.size() + 4096);
    for (int k = 0; k < 4; ++k) {
        pattern[k] = static_cast<char>((lastOffset >> (8 * k)) & 255);
        beyond[k] = static_cast<char>((past >> (8 * k)) & 255);
    }
    const qsizetype at = bytes.lastIndexOf(pattern);
    ASSERT_GT(at, 0);
    bytes.replace(at, 4, beyond);
    writeBytes(path("cut.tif"), bytes);
    EXPECT_TRUE(readFailure(path("cut.tif")).contains("data block 36 of 36"))
        << readFailure(path("cut.tif")).toStdString();
    EXPECT_FALSE(tiffFileIsComplete(path("cut.tif")));
    EXPECT_TRUE(tiffFileIsComplete(path("tiled.tif")));
}

// Sets the value of a one-value SHORT or LONG tag of the first directory of
// a little-endian TIFF held in `bytes`; false when the tag is not there.
bool patchTag(QByteArray& bytes, uint16_t tag, uint32_t value) {
    auto u16 = [&](qsizetype at) {
        return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                     (static_cast<uint8_t>(bytes[at + 1]) << 8));
    };
    const qsizetype ifd = u16(4) | (static_cast<qsizetype>(u16(6)) << 16);
    for (int i = 0; i < u16(ifd); ++i) {
        const qsizetype entry = ifd + 2 + 12 * i;
        if (u16(entry) != tag) continue;
        const int width = u16(entry + 2) == 3 ? 2 : 4;
        for (int k = 0; k < width; ++k)
            bytes[entry + 8 + k] = static_cast<char>((value >> (8 * k)) & 255);
        return true;
    }
    return false;
}

// Tiles far larger than the image and the file: the image itself is small
// enough, but each tile would be decoded into a buffer of 4 GB.
TEST_F(TiffForgedTest, ATileLargerThanTheFileCouldHoldIsRefused) {
    writeTestTiff(path("small.tif"), randomBitmap(16, 16, 5), {8, 1, COMPRESSION_NONE, true});
    ASSERT_EQ(readFailure(path("small.tif")), QString());
    QByteArray bytes = readBytes(path("small.tif"));
    ASSERT_TRUE(patchTag(bytes, TIFFTAG_TILEWIDTH, 65520));
    ASSERT_TRUE(patchTag(bytes, TIFFTAG_TILELENGTH, 65520));
    writeBytes(path("huge_tiles.tif"), bytes);
    QString message;
    const long long growth =
        peakResidentGrowth([&] { message = readFailure(path("huge_tiles.tif")); });
    EXPECT_TRUE(message.contains("a tile of 4292870400 bytes cannot be stored"))
        << message.toStdString();
    if (growth >= 0) {
        EXPECT_LT(growth, 64LL << 20);
    }
}

// A compression this libtiff cannot decode is refused by name, before any
// pixel memory is taken.
TEST_F(TiffForgedTest, AnUnknownCompressionIsRefusedByName) {
    QByteArray bytes = headerFirstTiff(randomBitmap(8, 8, 1));
    // Entry 4 of the directory at offset 8 (2-byte count, 12-byte entries) is
    // the compression, its value at byte 8 of the entry.
    const int entry = 8 + 2 + 3 * 12;
    ASSERT_EQ(static_cast<uint8_t>(bytes[entry]), 259 & 255);
    bytes[entry + 8] = static_cast<char>(0xE8);  // 65000
    bytes[entry + 9] = static_cast<char>(0xFD);
    writeBytes(path("unknown.tif"), bytes);
    EXPECT_TRUE(readFailure(path("unknown.tif")).contains("compression 65000"))
        << readFailure(path("unknown.tif")).toStdString();
}

}  // namespace
