// The blend written as float TIFF, OpenEXR and HDR AVIF: the blend's own
// linear values in every format, merge and mix, past full scale where ETTR
// and brackets push them; the names; the preview; the default format's file;
// and a failed write told in an ERROR box.
#include "blend/blend.h"
#include "maps/maps.h"
#include "pipeline/blend_stage.h"
#include "pipeline/output_formats.h"
#include "support/recording_reporter.h"
#include "support/tiff_io.h"
#include "tests/common/blend_reference.h"
#include "tests/common/child_process.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/hdr_readers.h"
#include "tests/common/test_images.h"

#include <half.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <random>

namespace {

constexpr OutputFormat kFloatFormats[] = {OutputFormat::TiffFloat, OutputFormat::ExrHalf,
                                          OutputFormat::ExrFloat};

class HdrBlendTest : public ::testing::Test {
  protected:
    // Image 1 never brighter than 10000, image 2 up to full scale: with ETTR,
    // image 2's highlights land past full scale.
    void SetUp() override {
        folder = dir.path() + "/";
        std::mt19937 rng(4);
        std::uniform_int_distribution<int> dark(0, 10000), bright(0, 65535);
        GflBitmap one = uniformBitmap(24, 16, 0, 0, 0), two = one;
        for (size_t i = 0; i < one.pixels.size(); ++i) {
            one.pixels[i] = static_cast<uint16_t>(dark(rng));
            two.pixels[i] = static_cast<uint16_t>(bright(rng));
        }
        set = diskSet(folder, {one, two});
        set.TablaMapa = buildTablaMapa(2);
        set.TablaMapaImagenes = 2;
        std::uniform_int_distribution<int> level(0, 255);
        QImage map(24, 16, QImage::Format_Grayscale8);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 24; ++x) {
                levels.push_back(static_cast<uint8_t>(level(rng)));
                map.scanLine(y)[x] = levels.back();
            }
        ASSERT_TRUE(map.save(folder + "Map_000000.png"));
    }
    BlendSettings settings(OutputFormat format, bool bw, BlendMerge merge) const {
        BlendSettings s;
        s.format = format;
        s.blancoNegro = bw;
        s.merge = merge;
        s.gamma = format == OutputFormat::Tiff16 ? 10 : 22;  // only the 16-bit TIFF takes it
        s.ettr = true;
        s.numBracketing = 2;
        s.perfil = "sRGB";
        s.rutaMapa = folder + "Map_000000.png";
        return s;
    }
    // Blends into a fresh folder of outputs; the files in bracket order.
    QStringList blend(const BlendSettings& s, RecordingReporter& rep) {
        for (const QString& f : QDir(folder).entryList({"OD*"}, QDir::Files))
            QFile::remove(folder + f);
        EXPECT_EQ(FusionarImagenes(folder + "IMG_1.CR2", s, set, rep), 1);
        QStringList files = QDir(folder).entryList({"OD*"}, QDir::Files);
        std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
            return a.contains("_0EV") > b.contains("_0EV");
        });
        return files;
    }
    QTemporaryDir dir;
    QString folder;
    ImageSet set;
    std::vector<uint8_t> levels;
};

TEST_F(HdrBlendTest, FloatFilesHoldTheBlendsOwnValuesPastFullScale) {
    for (OutputFormat format : kFloatFormats)
        for (bool bw : {false, true})
            for (BlendMerge merge : {BlendMerge::Select, BlendMerge::Weighted}) {
                SCOPED_TRACE(testing::Message()
                             << formatInfo(format).key << (bw ? " B&W" : " colour")
                             << (merge == BlendMerge::Weighted ? " weighted" : " select"));
                RecordingReporter r16, rep;
                const QStringList tiff16 = blend(settings(OutputFormat::Tiff16, bw, merge), r16);
                ASSERT_EQ(tiff16.size(), 2);
                GflBitmap today;
                ASSERT_FALSE(CargarGflBitmap(folder + tiff16[0], today, r16));
                const BlendSettings s = settings(format, bw, merge);
                const QStringList files = blend(s, rep);
                ASSERT_EQ(files.size(), 2) << rep.log.toStdString();
                for (const QString& f : files) {
                    EXPECT_TRUE(f.endsWith(QLatin1String(formatInfo(format).extension)));
                    EXPECT_TRUE(f.contains("_sRGB_linear_")) << f.toStdString();
                    EXPECT_TRUE(rep.logLines().contains("Saving image as " + f));
                }
                const auto read = [&](const QString& f) {
                    return format == OutputFormat::TiffFloat ? readFloatTiffPixels(folder + f)
                                                             : readExrPixels(folder + f);
                };
                const FloatPixels zero = read(files[0]), plus2 = read(files[1]);
                ASSERT_EQ(zero.values.size(), today.pixels.size());
                const double precision = format == OutputFormat::ExrHalf ? 0x1p-11 : 0x1p-24;
                const LiteralBlend lit = literalBlend(set, levels, set.TablaMapa,
                                                      settings(OutputFormat::Tiff16, bw, merge));
                int past = 0;
                for (size_t i = 0; i < zero.values.size(); ++i) {
                    const double v = 65535.0 * zero.values[i];
                    if (today.pixels[i] < 65535) {
                        ASSERT_LE(std::fabs(v - today.pixels[i]), 0.5 + v * precision) << i;
                    }
                    past += zero.values[i] > 1;
                    // Two stops up, and nothing clipped.
                    if (zero.values[i] < 16000) {
                        ASSERT_EQ(plus2.values[i], 4 * zero.values[i]) << i;
                    }
                    if (merge == BlendMerge::Select && format != OutputFormat::ExrHalf) {
                        ASSERT_EQ(zero.values[i],
                                  static_cast<float>(lit.planes[i % 3][i / 3] / 65535))
                            << i;
                    }
                }
                EXPECT_GT(past, 0);
            }
}

TEST_F(HdrBlendTest, NamesEndInTheFormatsSuffix) {
    struct Case {
        OutputFormat format;
        bool bw;
        const char* timed;
        const char* stable;  // --stable-names: led by the reference, no time of day
    };
    for (const Case& c :
         {Case{OutputFormat::Tiff16, false, "OD_153012_sRGB_g2.2.tif", "IMG_0003_OD_sRGB_g2.2.tif"},
          Case{OutputFormat::TiffFloat, false, "OD_153012_sRGB_linear.tif",
               "IMG_0003_OD_sRGB_linear.tif"},
          Case{OutputFormat::ExrHalf, true, "OD_BW_153012_sRGB_linear.exr",
               "IMG_0003_OD_BW_sRGB_linear.exr"},
          Case{OutputFormat::ExrFloat, false, "OD_153012_sRGB_linear.exr",
               "IMG_0003_OD_sRGB_linear.exr"},
          Case{OutputFormat::AvifPq, false, "OD_153012_BT2100_PQ.avif",
               "IMG_0003_OD_BT2100_PQ.avif"}}) {
        const QString extension = QLatin1String(formatInfo(c.format).extension);
        EXPECT_EQ(outputBaseName(c.bw, "153012", "sRGB", inverseGamma(22), c.format) + extension,
                  c.timed);
        EXPECT_EQ(outputBaseName(c.bw, OutputPlace{"/out/", "IMG_0003"}, "sRGB", inverseGamma(22),
                                 c.format) +
                      extension,
                  c.stable);
    }
}

// Float data shows as the 16-bit TIFF at gamma 2.2 of the same blend; PQ data
// as its SDR part: brighter, white from 203 cd/m² up.
TEST_F(HdrBlendTest, PreviewsShowTheDataAsAnSdrScreenWould) {
    auto preview = [&](OutputFormat format, int gamma) {
        BlendSettings s = settings(format, true, BlendMerge::Select);
        s.gamma = gamma;
        s.numBracketing = 1;
        RecordingReporter rep;
        blend(s, rep);
        EXPECT_EQ(rep.results.size(), 1u) << rep.log.toStdString();
        return rep.results.empty() ? QImage() : rep.results[0].picture;
    };
    const QImage tiff = preview(OutputFormat::Tiff16, 22);
    for (OutputFormat format : kFloatFormats) {
        const QImage p = preview(format, 22);
        ASSERT_EQ(p.size(), tiff.size());
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < p.width(); ++x)
                ASSERT_LE(std::abs(qGreen(p.pixel(x, y)) - qGreen(tiff.pixel(x, y))),
                          format == OutputFormat::ExrHalf ? 1 : 0)
                    << x << "," << y;
    }
    const QImage hdr = preview(OutputFormat::AvifPq, 22);
    ASSERT_EQ(hdr.size(), tiff.size());
    for (int y = 0; y < hdr.height(); ++y)
        for (int x = 0; x < hdr.width(); ++x) {
            const int sdr = qGreen(tiff.pixel(x, y)), shown = qGreen(hdr.pixel(x, y));
            EXPECT_GE(shown, sdr);
            // (203 / 1000)^(1 / 2.2) of full scale is 124.
            if (sdr > 126) {
                EXPECT_EQ(shown, 255);
            }
        }
}

// The default format writes exactly a 16-bit LZW TIFF of the literal blend
// with the tags it always had: the file's bytes, not only its pixels.
TEST_F(HdrBlendTest, TheDefaultFormatIsTodaysTiff) {
    BlendSettings s;
    s.perfil = "sRGB";
    s.rutaMapa = folder + "Map_000000.png";
    RecordingReporter rep;
    const QStringList files = blend(s, rep);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].endsWith("_sRGB_g2.2.tif"));
    const LiteralBlend lit = literalBlend(set, levels, set.TablaMapa, s);
    writeTiffRgb16(lit.bracket(1, s.evBracketing, inverseGamma(s.gamma)), folder + "expected.tif",
                   readTiffTags(folder + files[0]));
    EXPECT_TRUE(readBytes(folder + files[0]) == readBytes(folder + "expected.tif"));
}

// Every format's failed write is an ERROR box with the library's message;
// the blend still ends, and nothing half-written stays.
TEST_F(HdrBlendTest, AFailedWriteIsAnErrorBoxWithTheLibrarysMessage) {
    // Whole levels only, so no progressive map is written: the limit falls
    // on the outputs, none of which fits in 300 bytes.
    QImage map(24, 16, QImage::Format_Grayscale8);
    map.fill(greyOfImage(2, 2));
    ASSERT_TRUE(map.save(folder + "Map_000000.png"));
    const int status = runInChild(
        [&] {
            for (OutputFormat format : {OutputFormat::TiffFloat, OutputFormat::ExrHalf,
                                        OutputFormat::ExrFloat, OutputFormat::AvifPq}) {
                RecordingReporter rep;
                if (FusionarImagenes(folder + "IMG_1.CR2",
                                     settings(format, true, BlendMerge::Select), set, rep) != 1)
                    return 1;
                if (rep.boxes.size() != 2) return 2;
                for (const auto& box : rep.boxes)
                    if (box.title != "ERROR" ||
                        !box.text.contains(format == OutputFormat::TiffFloat ? "Write error"
                                                                             : "too large"))
                        return 4;
                if (rep.logLines().last() != "DONE" ||
                    !QDir(folder).entryList({"OD*"}, QDir::Files).isEmpty())
                    return 3;
            }
            return 0;
        },
        ChildLimits{false, 300, -1});
    EXPECT_EQ(status, 0);
}

// Colours without a profile cannot be taken to BT.2020; a grey image can.
TEST_F(HdrBlendTest, TheHdrAvifOfABlendWithoutProfile) {
    for (bool bw : {false, true}) {
        RecordingReporter rep;
        BlendSettings s = settings(OutputFormat::AvifPq, bw, BlendMerge::Select);
        s.numBracketing = 1;
        const QStringList files = blend(s, rep);
        EXPECT_EQ(rep.boxes.size(), bw ? 0u : 1u);
        ASSERT_EQ(files.size(), bw ? 1 : 0);
        if (!bw) continue;
        const DecodedAvif d = decodeAvif(folder + files[0]);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ((std::array{d.primaries, d.transfer, d.matrix}), (std::array{9, 16, 9}));
        EXPECT_TRUE(contentLightLevel(folder + files[0]));
    }
}

}  // namespace
