// The LZW writer encodes bands of strips on several threads: its files must be
// the same bytes whatever the thread count, and what libtiff itself would write.
#include "orrindale_version.h"
#include "support/gfl_bitmap.h"
#include "support/parallel.h"
#include "support/tiff_io.h"
#include "tests/common/test_images.h"

#include <tiffio.h>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// setParallelThreads is process-wide: put the default back whatever happens.
struct ThreadCount {
    explicit ThreadCount(int threads) { setParallelThreads(threads); }
    ~ThreadCount() { setParallelThreads(0); }
};

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr openForReading(const QString& path) {
    return TiffPtr(TIFFOpen(QFile::encodeName(path).constData(), "r"));
}

// 1000 pixels wide gives strips of 43 rows (258 KB); 1500 rows make 35 strips,
// the last one 38 rows high, so the writer has many bands of strips to spread
// and a short last strip. Smooth ramps with grain, and a band of pure noise
// where LZW's code table fills up and restarts within a strip. Integer
// arithmetic only: the image is built in milliseconds.
GflBitmap bandedPhoto() {
    GflBitmap image;
    image.width = 1000;
    image.height = 1500;
    image.pixels.resize(image.sampleCount());
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int ramp = 8000 + 30 * x + 20 * y + 5000 * c;
                const int grain = (x * 7919 + y * 104729 + c * 31) % 97;
                image.row(y)[x * 3 + c] = static_cast<uint16_t>(std::min(65535, ramp + grain));
            }
    const GflBitmap noise = randomBitmap(1000, 200, 42);
    std::copy(noise.pixels.begin(), noise.pixels.end(), image.row(600));
    return image;
}

class TiffWriteTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(TiffWriteTest, SameBytesWhateverTheThreadCount) {
    const GflBitmap image = bandedPhoto();
    QByteArray first;
    for (int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(threads);
        const ThreadCount count(threads);
        const QString file = path(QStringLiteral("t%1.tiff").arg(threads));
        writeTiffRgb16(image, file);
        const QByteArray bytes = readBytes(file);
        ASSERT_GT(bytes.size(), 1000);
        if (first.isEmpty())
            first = bytes;
        else
            EXPECT_TRUE(bytes == first) << "differs from the one-thread file";
        GflBitmap loaded;
        readTiffRgb16(file, loaded);
        ASSERT_EQ(loaded.width, image.width);
        ASSERT_EQ(loaded.height, image.height);
        EXPECT_TRUE(loaded.pixels == image.pixels);
    }
    const TiffPtr tif = openForReading(path("t1.tiff"));
    ASSERT_TRUE(tif);
    // 35 strips of 258 KB: several bands of strips for the threads to share.
    EXPECT_EQ(TIFFNumberOfStrips(tif.get()), 35u);
}

// The reference: libtiff's own strip-by-strip encoder on one thread, given the
// fields our file declares. The parallel writer must produce the same file.
QByteArray writtenByLibtiffAlone(const GflBitmap& image, const QString& ours,
                                 const QString& reference) {
    const TiffPtr in = openForReading(ours);
    if (!in) return {};
    uint32_t rowsPerStrip = 0;
    const char* software = nullptr;
    if (!TIFFGetField(in.get(), TIFFTAG_ROWSPERSTRIP, &rowsPerStrip) ||
        !TIFFGetField(in.get(), TIFFTAG_SOFTWARE, &software))
        return {};
    {
        const TiffPtr out(TIFFOpen(QFile::encodeName(reference).constData(), "w"));
        if (!out) return {};
        TIFF* t = out.get();
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        TIFFSetField(t, TIFFTAG_SOFTWARE, software);
        const size_t rowBytes = static_cast<size_t>(image.width) * 6;
        std::vector<uint16_t> strip(rowsPerStrip * rowBytes / 2);
        for (uint32_t first = 0, s = 0; first < static_cast<uint32_t>(image.height);
             first += rowsPerStrip, ++s) {
            const size_t bytes = std::min<uint32_t>(rowsPerStrip, image.height - first) * rowBytes;
            std::memcpy(strip.data(), image.row(static_cast<int32_t>(first)), bytes);
            if (TIFFWriteEncodedStrip(t, s, strip.data(), static_cast<tmsize_t>(bytes)) < 0)
                return {};
        }
    }
    return readBytes(reference);
}

TEST_F(TiffWriteTest, SameBytesAsLibtiffsOwnSequentialEncoder) {
    struct Case {
        const char* name;
        GflBitmap image;
    };
    const Case cases[] = {
        {"banded photo", bandedPhoto()},
        {"one pixel", randomBitmap(1, 1, 1)},
        // A row longer than 256 KB: one row per strip.
        {"very wide", randomBitmap(43691, 10, 2)},
        // 42 bytes a row: all 3000 rows fit in one strip.
        {"narrow", randomBitmap(7, 3000, 3)},
        {"odd sizes", randomBitmap(333, 777, 4)},
    };
    const ThreadCount count(2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeTiffRgb16(c.image, path("ours.tiff"));
        const QByteArray reference =
            writtenByLibtiffAlone(c.image, path("ours.tiff"), path("reference.tiff"));
        ASSERT_FALSE(reference.isEmpty());
        EXPECT_TRUE(readBytes(path("ours.tiff")) == reference);
    }
}

// Rows made as they are encoded give the record's file byte for byte; every
// row is made exactly once, whatever the thread count.
TEST_F(TiffWriteTest, RowsMadeWhileEncodingGiveTheRecordsFile) {
    const GflBitmap image = randomBitmap(333, 777, 9);
    writeTiffRgb16(image, path("record.tiff"));
    for (int threads : {1, 2, 5}) {
        SCOPED_TRACE(threads);
        const ThreadCount count(threads);
        std::vector<std::atomic<int>> made(static_cast<size_t>(image.height));
        RgbRows rows;
        rows.width = image.width;
        rows.height = image.height;
        rows.fill = [&](int32_t first, int32_t n, uint16_t* out) {
            for (int32_t y = first; y < first + n; ++y) {
                ++made[static_cast<size_t>(y)];
                std::copy_n(image.row(y), static_cast<size_t>(image.width) * 3,
                            out + static_cast<size_t>(y - first) * image.width * 3);
            }
        };
        writeTiffRgb16(rows, path("rows.tiff"));
        EXPECT_TRUE(readBytes(path("rows.tiff")) == readBytes(path("record.tiff")));
        EXPECT_TRUE(std::all_of(made.begin(), made.end(), [](const std::atomic<int>& m) {
            return m.load() == 1;
        }));
    }
}

// Reads the file with nothing but libtiff's strip decoder, and checks the
// fields and the layout: strips in order, back to back after the header.
TEST_F(TiffWriteTest, PlainLibtiffReadsTheFieldsAndEveryStrip) {
    const GflBitmap image = bandedPhoto();
    const ThreadCount count(2);
    writeTiffRgb16(image, path("p.tiff"));
    const TiffPtr tif = openForReading(path("p.tiff"));
    ASSERT_TRUE(tif);
    TIFF* t = tif.get();
    uint32_t width = 0, height = 0, rowsPerStrip = 0;
    uint16_t bits = 0, samples = 0, photometric = 0, planar = 0, compression = 0, predictor = 0,
             orientation = 0;
    const char* software = nullptr;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_PREDICTOR, &predictor);
    TIFFGetField(t, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(t, TIFFTAG_SOFTWARE, &software);
    EXPECT_EQ(width, 1000u);
    EXPECT_EQ(height, 1500u);
    EXPECT_EQ(rowsPerStrip, 43u);  // 43 rows of 6000 bytes: the largest strip within 256 KB
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(samples, 3);
    EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(compression, COMPRESSION_LZW);
    EXPECT_EQ(predictor, PREDICTOR_HORIZONTAL);
    EXPECT_EQ(orientation, ORIENTATION_TOPLEFT);
    ASSERT_NE(software, nullptr);
    EXPECT_STREQ(software, "Orrindale " ORRINDALE_VERSION);

    const uint32_t strips = TIFFNumberOfStrips(t);
    ASSERT_EQ(strips, 35u);
    const size_t rowBytes = static_cast<size_t>(width) * 6;
    std::vector<uint16_t> decoded(rowsPerStrip * rowBytes / 2);
    uint64_t expectedOffset = 8;  // right after the 8-byte header
    for (uint32_t s = 0; s < strips; ++s) {
        SCOPED_TRACE(s);
        EXPECT_EQ(TIFFGetStrileOffset(t, s), expectedOffset);
        expectedOffset = TIFFGetStrileOffset(t, s) + TIFFGetStrileByteCount(t, s);
        const uint32_t first = s * rowsPerStrip;
        const uint32_t rows = std::min(rowsPerStrip, height - first);
        const tmsize_t want = static_cast<tmsize_t>(rows * rowBytes);
        ASSERT_EQ(TIFFReadEncodedStrip(t, s, decoded.data(), want), want);
        EXPECT_EQ(std::memcmp(decoded.data(), image.row(static_cast<int32_t>(first)), want), 0);
    }
}

// Qt reads 16-bit TIFF only through its optional tiff plugin.
TEST_F(TiffWriteTest, QtImageReaderOpensTheFile) {
    if (!QImageReader::supportedImageFormats().contains("tiff"))
        GTEST_SKIP() << "Qt's tiff image plugin is not installed";
    const GflBitmap image = randomBitmap(97, 61, 5);
    writeTiffRgb16(image, path("q.tiff"));
    QImageReader reader(path("q.tiff"));
    const QImage read = reader.read();
    ASSERT_FALSE(read.isNull()) << reader.errorString().toStdString();
    ASSERT_EQ(read.width(), image.width);
    ASSERT_EQ(read.height(), image.height);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const QRgba64 p = read.pixelColor(x, y).rgba64();
            const uint16_t* want = image.row(y) + x * 3;
            ASSERT_EQ(p.red(), want[0]) << x << "," << y;
            ASSERT_EQ(p.green(), want[1]) << x << "," << y;
            ASSERT_EQ(p.blue(), want[2]) << x << "," << y;
        }
}

// A disk that fills up while both threads are encoding: the save fails with
// libtiff's message, nobody waits forever, the old file stays and the
// temporary one goes. A file size limit stands in for the full disk.
TEST_F(TiffWriteTest, RunningOutOfSpaceMidwayKeepsTheOldFile) {
    const GflBitmap small = randomBitmap(8, 8, 6);
    writeTiffRgb16(small, path("keep.tiff"));
    const QByteArray before = readBytes(path("keep.tiff"));

    // The limit cuts the file in half: well after the first bands are in.
    const GflBitmap image = bandedPhoto();
    writeTiffRgb16(image, path("whole.tiff"));
    const auto wholeSize = static_cast<rlim_t>(readBytes(path("whole.tiff")).size());
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct Restore {
        rlimit limit;
        void (*handler)(int);
        ~Restore() {
            setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, handler);
        }
    } restore{saved, std::signal(SIGXFSZ, SIG_IGN)};  // EFBIG instead of a fatal signal
    rlimit limit = saved;
    limit.rlim_cur = wholeSize / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

    const ThreadCount count(2);
    try {
        writeTiffRgb16(image, path("keep.tiff"));
        ADD_FAILURE() << "a save past the size limit succeeded";
    } catch (const TiffError& e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("Write error"))) << e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_TRUE(readBytes(path("keep.tiff")) == before);
    EXPECT_FALSE(QFile::exists(path("keep.tiff.part")));
}

}  // namespace
