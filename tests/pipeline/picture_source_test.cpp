// The read-out's note on the map's choice: the image with the larger share
// of a pixel, and that share, decoded with the map's own table; damaged
// scene-linear and HDR files.
#include "pipeline/picture_source.h"
#include "blend/hdr_output.h"
#include "maps/maps.h"
#include "pipeline/set_pictures.h"
#include "support/errors.h"
#include "support/exr_writer.h"
#include "support/icc_profile.h"
#include "support/tiff_io.h"
#include "tests/common/output_file_checks.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>

namespace {

TEST(MapChoices, NameTheImageWithTheLargerShare) {
    const MapChoices two({}, buildTablaMapa(2), {"IMG_1.tiff", "IMG_2.tiff"});
    const MapChoices three({}, buildTablaMapa(3), {"IMG_1.tiff", "IMG_2.tiff", "IMG_3.tiff"});
    const struct {
        const MapChoices& map;
        int level;
        const char* note;
    } cases[] = {
        {two, 0, "from IMG_2.tiff, 100 %"},    // image n is black
        {two, 255, "from IMG_1.tiff, 100 %"},  // image 1 white
        {two, 97, "from IMG_2.tiff, 62 %"},    // 1.62: 62 % of image 2
        {two, 160, "from IMG_1.tiff, 63 %"},   // 1.37: 63 % of image 1
        {two, 128, "from IMG_1.tiff, 50 %"},   // 1.498
        {three, greyOfImage(2, 3), "from IMG_2.tiff, 100 %"},
        {three, 100, "from IMG_2.tiff, 78 %"},  // 2.22
    };
    for (const auto& c : cases) EXPECT_EQ(c.map.ofLevel(c.level), c.note) << c.level;
    // A table for another number of images than named, or none, tells nothing.
    EXPECT_EQ(MapChoices({}, buildTablaMapa(4), {"IMG_1.tiff"}).ofLevel(0), "");
    EXPECT_EQ(MapChoices({}, {}, {"IMG_1.tiff"}).ofLevel(255), "");
}

}  // namespace

// Every cut of a float TIFF, an OpenEXR file and an HDR AVIF, and a few
// bytes in them overwritten, is shown or refused with a message: never a
// crash, never an exception of another kind.
TEST(HdrPictures, DamagedFilesAreShownOrRefused) {
    QTemporaryDir dir;
    const int w = 40, h = 24;
    std::vector<double> v(size_t(w) * h * 3);
    for (size_t i = 0; i < v.size(); ++i) v[i] = 0.001 * double(i % 997) * (i % 5 == 0 ? 30 : 1);
    const LinearRgbRows rows{w, h, [&v](int32_t first, int32_t count, double* out) {
                                 std::copy_n(v.data() + size_t(first) * w * 3,
                                             size_t(count) * w * 3, out);
                             }};
    const QString tif = dir.filePath("a.tif"), exr = dir.filePath("a.exr"),
                  avif = dir.filePath("a.avif");
    writeTiffFloat(rows, tif);
    writeExr(rows, exr, ExrPixels::Half, {});
    PqRows pq(rows, matrixToBt2020(*readRgbProfile(dcrawStyleSrgb())), 10);
    writeAvifPq(pq.rows(), avif, {}, [&pq] { return pq.contentLight(); });
    for (const QString& path : {tif, exr, avif}) {
        SCOPED_TRACE(path.toStdString());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray whole = f.readAll();
        int shown = 0, refused = 0;
        const QString damaged = dir.filePath("damaged" + path.mid(path.lastIndexOf('.')));
        for (int cut = 0; cut <= whole.size(); cut += std::max<int>(1, whole.size() / 97)) {
            for (int flip : {-1, cut}) {
                QByteArray bytes = whole.left(flip < 0 ? cut : whole.size());
                if (flip >= 0 && flip < bytes.size())
                    for (int k = 0; k < 4 && flip + k < bytes.size(); ++k) bytes[flip + k] ^= 0x5a;
                QFile out(damaged);
                ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
                out.write(bytes);
                out.close();
                try {
                    const PictureEntry entry{PictureKind::Output, "Output", damaged};
                    auto source = openPicture(entry, ImageSet(), SetFiles{});
                    const Rgb8Plane picture = source->screenPicture();
                    source->samplesAt(0, 0, picture);
                    ++shown;
                } catch (const RunError&) {
                    ++refused;
                } catch (const TiffError&) {
                    ++refused;
                }
            }
        }
        EXPECT_GT(shown, 0);
        EXPECT_GT(refused, 0);
    }
}
