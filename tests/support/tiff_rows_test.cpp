// A TIFF read rows at a time from a file held open, and decoded for the
// screen in bands, gives what the whole-image reader gives, in every layout,
// also once the file's name is gone.
#include "support/tiff_rows.h"
#include "support/opened_file.h"
#include "support/screen_picture.h"
#include "support/screen_tone.h"
#include "support/tiff_io.h"
#include "tests/common/test_images.h"

#include <tiffio.h>

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace {

TEST(TiffRows, RowsAndScreenPicturesAreTheWholeReadersPixels) {
    QTemporaryDir dir;
    const GflBitmap image = randomBitmap(41, 33, 9);
    const TiffLayout layouts[] = {
        {16, 3, COMPRESSION_LZW},       {16, 3, COMPRESSION_NONE},
        {8, 3, COMPRESSION_NONE},       {16, 1, COMPRESSION_PACKBITS},
        {16, 3, COMPRESSION_LZW, true}, {16, 3, COMPRESSION_NONE, false, true}};
    const std::vector<uint8_t> table = gammaScreenTable(2.2);
    for (const TiffLayout& layout : layouts) {
        const QString path = dir.filePath("t.tif");
        writeTestTiff(path, image, layout);
        GflBitmap whole;
        readTiffRgb16(path, whole);
        const OpenedFile file(path);
        ASSERT_TRUE(QFile::remove(path));  // read through the open file alone
        TiffRowReader reader(file);
        // Runs across strip borders, from strip starts and whole strips.
        for (int run : {1, 5, reader.blockRows(), 2 * reader.blockRows() + 3}) {
            std::vector<uint16_t> rows(static_cast<size_t>(whole.width) * whole.height * 3);
            for (int y = 0; y < whole.height; y += run)
                reader.readRows(y, std::min(run, whole.height - y),
                                rows.data() + static_cast<size_t>(y) * whole.width * 3);
            ASSERT_EQ(rows, whole.pixels) << layout.bits << " " << layout.tiled << " " << run;
        }
        const Rgb8Plane shown = tiffOnScreen(file, table);
        for (size_t i = 0; i < whole.sampleCount(); ++i)
            ASSERT_EQ(shown.row(0)[i], table[whole.pixels[i]]) << i;
    }
}

}  // namespace
