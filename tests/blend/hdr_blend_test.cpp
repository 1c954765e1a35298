// The blend written as float TIFF, OpenEXR and HDR AVIF: the blend's own
// linear values in every format, merge and mix, past full scale where ETTR
// and brackets push them; the names; the previews; the default format's file;
// a failed write told in an ERROR box; an AVIF without primaries.
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
    // Image 1 never above 10000, image 2 up to full scale, a map of every
    // level: with ETTR, image 2's highlights land past full scale.
    void SetUp() override {
        folder = dir.path() + "/";
        std::mt19937 rng(4);
        GflBitmap one = uniformBitmap(24, 16, 0, 0, 0), two = one;
        for (size_t i = 0; i < one.pixels.size(); ++i) {
            one.pixels[i] = static_cast<uint16_t>(rng() % 10001);
            two.pixels[i] = static_cast<uint16_t>(rng() % 65536);
        }
        set = diskSet(folder, {one, two});
        set.TablaMapa = buildTablaMapa(2);
        set.TablaMapaImagenes = 2;
        QImage map(24, 16, QImage::Format_Grayscale8);
        for (int i = 0; i < 24 * 16; ++i)
            levels.push_back(map.bits()[i] = static_cast<uint8_t>(rng()));
        ASSERT_TRUE(map.save(folder + "Map.png"));
    }
    BlendSettings settings(OutputFormat format, bool bw = false,
                           BlendMerge merge = BlendMerge::Select) const {
        BlendSettings s;
        s.format = format;
        s.blancoNegro = bw;
        s.merge = merge;
        s.gamma = format == OutputFormat::Tiff16 ? 10 : 22;  // only the 16-bit TIFF takes it
        s.ettr = true;
        s.numBracketing = 2;
        s.perfil = "sRGB";
        s.rutaMapa = folder + "Map.png";
        return s;
    }
    // The files of one blend in a folder of no others, 0 EV first.
    QStringList blend(const BlendSettings& s, RecordingReporter& rep) {
        for (const QString& f : QDir(folder).entryList({"OD*"}, QDir::Files))
            QFile::remove(folder + f);
        EXPECT_EQ(FusionarImagenes(folder + "IMG_1.CR2", s, set, rep), 1);
        QStringList files = QDir(folder).entryList({"OD*"}, QDir::Files);
        std::sort(files.begin(), files.end(),
                  [](const QString& a, const QString&) { return a.contains("_0EV"); });
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
                             << formatInfo(format).key << bw << static_cast<int>(merge));
                RecordingReporter r16, rep;
                GflBitmap today;  // the 16-bit TIFF at gamma 1 with the same settings
                ASSERT_FALSE(CargarGflBitmap(
                    folder + blend(settings(OutputFormat::Tiff16, bw, merge), r16).value(0), today,
                    r16));
                const QStringList files = blend(settings(format, bw, merge), rep);
                ASSERT_EQ(files.size(), 2) << rep.log.toStdString();
                for (const QString& f : files) {
                    EXPECT_TRUE(f.endsWith(QLatin1String(formatInfo(format).extension)) &&
                                f.contains("_sRGB_linear_"));
                    EXPECT_TRUE(rep.logLines().contains("Saving image as " + f));
                }
                auto read = [&](const QString& f) {
                    return format == OutputFormat::TiffFloat ? readFloatTiffPixels(folder + f)
                                                             : readExrPixels(folder + f);
                };
                const std::vector<float> zero = read(files[0]), plus2 = read(files[1]);
                ASSERT_EQ(zero.size(), today.pixels.size());
                const double precision = format == OutputFormat::ExrHalf ? 0x1p-11 : 0x1p-24;
                const LiteralBlend lit = literalBlend(set, levels, set.TablaMapa,
                                                      settings(OutputFormat::Tiff16, bw, merge));
                const bool exact = merge == BlendMerge::Select && format != OutputFormat::ExrHalf;
                int past = 0;
                for (size_t i = 0; i < zero.size(); ++i) {
                    const double v = 65535.0 * zero[i];
                    ASSERT_TRUE(today.pixels[i] == 65535 ||
                                std::fabs(v - today.pixels[i]) <= 0.5 + v * precision)
                        << i;
                    ASSERT_TRUE(zero[i] > 16000 || plus2[i] == 4 * zero[i])
                        << i;  // two stops up, nothing clipped
                    ASSERT_TRUE(!exact ||
                                zero[i] == static_cast<float>(lit.planes[i % 3][i / 3] / 65535))
                        << i;
                    past += zero[i] > 1;
                }
                EXPECT_GT(past, 0);
            }
}

TEST_F(HdrBlendTest, NamesEndInTheFormatsSuffix) {
    struct Case {
        OutputFormat format;
        bool bw;
        const char *timed, *stable;  // the window's; --stable-names'
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
// as its SDR part: brighter, white from 203 cd/m² ((0.203)^(1/2.2) is 124) up.
TEST_F(HdrBlendTest, PreviewsShowTheDataAsAnSdrScreenWould) {
    auto preview = [&](OutputFormat format) {
        BlendSettings s = settings(format, true);
        s.gamma = 22;
        s.numBracketing = 1;
        RecordingReporter rep;
        blend(s, rep);
        return rep.results.empty() ? QImage() : rep.results[0].picture;
    };
    const QImage tiff = preview(OutputFormat::Tiff16), hdr = preview(OutputFormat::AvifPq);
    ASSERT_FALSE(tiff.isNull());
    ASSERT_EQ(hdr.size(), tiff.size());
    for (OutputFormat format : kFloatFormats) {
        const QImage p = preview(format);
        ASSERT_EQ(p.size(), tiff.size());
        for (int i = 0; i < p.width() * p.height(); ++i) {
            const int sdr = qGreen(tiff.pixel(i % p.width(), i / p.width()));
            ASSERT_LE(std::abs(qGreen(p.pixel(i % p.width(), i / p.width())) - sdr),
                      format == OutputFormat::ExrHalf ? 1 : 0);
            const int shown = qGreen(hdr.pixel(i % p.width(), i / p.width()));
            ASSERT_TRUE(shown >= sdr && (sdr <= 126 || shown == 255)) << i;
        }
    }
}

// The default format writes exactly a 16-bit LZW TIFF of the literal blend
// with the tags it always had: the file's bytes, not only its pixels.
TEST_F(HdrBlendTest, TheDefaultFormatIsTodaysTiff) {
    BlendSettings s;
    s.perfil = "sRGB";
    s.rutaMapa = folder + "Map.png";
    RecordingReporter rep;
    const QStringList files = blend(s, rep);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].endsWith("_sRGB_g2.2.tif"));
    writeTiffRgb16(literalBlend(set, levels, set.TablaMapa, s)
                       .bracket(1, s.evBracketing, inverseGamma(s.gamma)),
                   folder + "expected.tif", readTiffTags(folder + files[0]));
    EXPECT_TRUE(readBytes(folder + files[0]) == readBytes(folder + "expected.tif"));
}

// Each format's failed write (none fits in 300 bytes) is an ERROR box with
// the library's message, the blend still ends, and nothing half-written
// stays. Whole map levels only: no progressive map to write first.
TEST_F(HdrBlendTest, AFailedWriteIsAnErrorBoxWithTheLibrarysMessage) {
    QImage map(24, 16, QImage::Format_Grayscale8);
    map.fill(greyOfImage(2, 2));
    ASSERT_TRUE(map.save(folder + "Map.png"));
    const int status = runInChild(
        [&] {
            for (const OutputFormatInfo& f : outputFormats()) {
                if (f.format == OutputFormat::Tiff16) continue;
                RecordingReporter rep;
                if (FusionarImagenes(folder + "IMG_1.CR2", settings(f.format, true), set, rep) !=
                        1 ||
                    rep.boxes.size() != 2 || rep.logLines().last() != "DONE" ||
                    !QDir(folder).entryList({"OD*"}, QDir::Files).isEmpty())
                    return 1;
                for (const auto& box : rep.boxes)
                    if (box.title != "ERROR" ||
                        !box.text.contains(f.format == OutputFormat::TiffFloat ? "Write error"
                                                                               : "too large"))
                        return 2;
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
        const QStringList files = blend(settings(OutputFormat::AvifPq, bw), rep);
        EXPECT_EQ(rep.boxes.size(), bw ? 0u : 2u);
        ASSERT_EQ(files.size(), bw ? 2 : 0);
        if (bw) {
            EXPECT_EQ(decodeAvif(folder + files[0]).cicp, (std::array{9, 16, 9}));
        }
    }
}

}  // namespace
