// The inputs fuzzing found faults with, kept under tests/data/fuzz/<target>:
// each goes through the loaders its target drives and must fail or load
// cleanly, cheaply (no crash, no large allocation); some fail with a known
// message. Also the forged headers a fuzzer is unlikely to reach by chance.
#include "blend/blend.h"
#include "support/errors.h"
#include "support/gfl_bitmap.h"
#include "support/objeto_imagen.h"
#include "support/recording_reporter.h"
#include "support/tiff_io.h"
#include "tests/common/process_usage.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <map>
#include <utility>
#include <vector>

namespace {

// The largest memory a small input may make a loader take.
constexpr long long kCheapBytes = 64LL << 20;

QStringList inputsOf(const char* target) {
    const QDir dir(QStringLiteral(ORRINDALE_TEST_DATA "/fuzz/") + QString::fromLatin1(target));
    QStringList files;
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) files << dir.filePath(name);
    return files;
}

// What each input must fail with, by file name.
const std::map<QString, QString>& expectedFailures() {
    static const std::map<QString, QString> expected{
        // 594 bytes whose 64960 tiles all point into the header, claiming
        // 29696 x 559 pixels: refused before its 100 MB buffer.
        {QStringLiteral("shared-tiles-claim-16mpx.tif"),
         QStringLiteral("too few for a 29696 x 559 image")},
        // 594 bytes: 6 x 18 pixels of 16385 samples in tiles of 65521 x 16,
        // whose buffer was 17 GB; the samples now count in the image's size.
        {QStringLiteral("tile-of-17-gb.tif"), QStringLiteral("too few for a 6 x 18 image")},
        // 26 bytes of GIF whose reader reports a 0 x 0 first frame and then
        // draws its 4607 x 18254 canvas: 336 MB while the limit was raised
        // for any map. A map without pixels is refused from its header now.
        {QStringLiteral("gif-26-bytes-84mpx-canvas.gif"),
         QStringLiteral("gif-26-bytes-84mpx-canvas.gif")},
    };
    return expected;
}

void expectCheap(long long growth, const QString& file) {
    if (growth >= 0) {
        EXPECT_LT(growth, kCheapBytes) << file.toStdString();
    }
}

TEST(FuzzRegressionTest, TiffReaderInputs) {
    for (const QString& file : inputsOf("fuzz_tiff_reader")) {
        SCOPED_TRACE(file.toStdString());
        RecordingReporter rep;
        GflBitmap image;
        const long long growth = peakResidentGrowth([&] {
            CargarGflBitmap(file, image, rep);
            try {
                readTiffTags(file);
            } catch (const TiffError&) {
            }
            tiffFileIsComplete(file);
        });
        expectCheap(growth, file);
        const auto known = expectedFailures().find(QFileInfo(file).fileName());
        if (known != expectedFailures().end()) {
            ASSERT_EQ(rep.boxes.size(), 1u);
            EXPECT_TRUE(rep.boxes[0].text.contains(known->second))
                << rep.boxes[0].text.toStdString();
            EXPECT_TRUE(image.empty());
        }
    }
}

TEST(FuzzRegressionTest, PictureLoaderInputs) {
    for (const QString& file : inputsOf("fuzz_picture_loader")) {
        SCOPED_TRACE(file.toStdString());
        const long long growth = peakResidentGrowth([&] {
            try {
                ObjetoImagen picture;
                picture.Cargar(file);
            } catch (const RunError&) {
            }
        });
        expectCheap(growth, file);
    }
}

// As the map target drives them: against the seeds' size, and against the
// size the header reports when a set could be that small.
TEST(FuzzRegressionTest, MapDecodingInputs) {
    for (const QString& file : inputsOf("fuzz_map_levels")) {
        SCOPED_TRACE(file.toStdString());
        QStringList failures;
        const long long growth = peakResidentGrowth([&] {
            const QSize claimed = QImageReader(file).size();
            std::vector<std::pair<QSize, bool>> calls{{QSize(24, 16), true}};
            if (claimed.isValid() &&
                static_cast<long long>(claimed.width()) * claimed.height() <= 1 << 16)
                calls.emplace_back(claimed, false);
            for (const auto& [expected, keepColours] : calls) {
                try {
                    loadMapLevels(file, expected, keepColours);
                } catch (const RunError& e) {
                    failures << QString::fromStdString(e.what());
                }
            }
        });
        expectCheap(growth, file);
        const auto known = expectedFailures().find(QFileInfo(file).fileName());
        if (known != expectedFailures().end()) {
            EXPECT_TRUE(failures.join('|').contains(known->second))
                << failures.join('|').toStdString();
        }
    }
}

// A PNG header claiming 60000 x 60000 pixels over a few bytes of data: the
// picture loader refuses it without taking the 14 GB, and the map decoding
// compares the header with the set before reading anything.
TEST(FuzzRegressionTest, APngClaimingAHugePictureIsRefusedCheaply) {
    QTemporaryDir dir;
    QImage small(4, 4, QImage::Format_Grayscale8);
    small.fill(7);
    const QString path = dir.filePath("huge.png");
    ASSERT_TRUE(small.save(path));
    QByteArray bytes = readBytes(path);
    // IHDR follows the 8-byte signature: length, "IHDR", width, height, ...
    ASSERT_EQ(bytes.mid(12, 4), QByteArray("IHDR"));
    for (int k = 0; k < 4; ++k) {
        bytes[16 + k] = static_cast<char>((60000 >> (24 - 8 * k)) & 255);
        bytes[20 + k] = static_cast<char>((60000 >> (24 - 8 * k)) & 255);
    }
    // The chunk's CRC over type and data, so that the header parses.
    uint32_t crc = 0xFFFFFFFFu;
    for (int i = 12; i < 12 + 4 + 13; ++i) {
        crc ^= static_cast<uint8_t>(bytes[i]);
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int k = 0; k < 4; ++k) bytes[29 + k] = static_cast<char>((crc >> (24 - 8 * k)) & 255);
    writeBytes(path, bytes);

    int number = 0;
    const long long growth = peakResidentGrowth([&] {
        try {
            ObjetoImagen picture;
            picture.Cargar(path);
        } catch (const RunError& e) {
            number = e.number();
        }
    });
    EXPECT_EQ(number, kErrInvalidPicture);
    expectCheap(growth, path);

    const MapLevels other = loadMapLevels(path, QSize(24, 16), true);
    EXPECT_EQ(QSize(other.width, other.height), QSize(60000, 60000));
    EXPECT_TRUE(other.red.empty());
    int mapNumber = 0;
    try {
        loadMapLevels(path, QSize(60000, 60000), true);
    } catch (const RunError& e) {
        mapNumber = e.number();
    }
    EXPECT_EQ(mapNumber, kErrInvalidPicture);
}

}  // namespace
