// The float TIFF, OpenEXR and HDR AVIF writers, each file read back with its
// format's own library: values, attributes, primaries, PQ signalling and
// PSNR, the same bytes on any thread count, and a disk that fills up.
#include "blend/hdr_output.h"
#include "support/avif_writer.h"
#include "support/errors.h"
#include "support/exif_block.h"
#include "support/exr_writer.h"
#include "support/parallel.h"
#include "support/step_quantizer.h"
#include "support/tiff_io.h"
#include "tests/common/hdr_readers.h"
#include "tests/common/output_file_checks.h"
#include "tests/common/test_images.h"

#include <ImfStandardAttributes.h>
#include <half.h>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <random>

namespace {

enum class Writer { TiffFloat, ExrHalf, ExrFloat, Avif };
constexpr Writer kWriters[] = {Writer::TiffFloat, Writer::ExrHalf, Writer::ExrFloat, Writer::Avif};

// Linear values over 40 stops and past the largest half, with values exactly
// halfway between two halves, one just past halfway that a float would round
// onto the halfway point, and a smooth row.
std::vector<double> sceneValues(int w, int h) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> stops(-30, 10), grain(0.97, 1.03);
    std::vector<double> v(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < v.size(); ++i) v[i] = std::exp2(stops(rng));
    for (int x = 0; x < w; ++x)  // a smooth row: most of an image is like it
        for (int c = 0; c < 3; ++c)
            v[static_cast<size_t>(x) * 3 + c] = (x + 1.0) / w * (0.5 + 0.2 * c) * grain(rng);
    const double exact[] = {0,       1 + 0x1p-11, 1 + 3 * 0x1p-11, 1 + 0x1p-11 + 0x1p-40,
                            0x1p-25, 3 * 0x1p-25, 65504,           65520,
                            1e5};
    std::copy(std::begin(exact), std::end(exact), v.begin() + 3 * w);
    return v;
}

LinearRgbRows rowsOf(const std::vector<double>& v, int w, int h) {
    LinearRgbRows rows;
    rows.width = w;
    rows.height = h;
    rows.fill = [&v, w](int32_t first, int32_t count, double* out) {
        std::copy_n(v.data() + static_cast<size_t>(first) * w * 3,
                    static_cast<size_t>(count) * w * 3, out);
    };
    return rows;
}

std::optional<RgbColourSpace> srgb() {
    return readRgbProfile(dcrawStyleSrgb());
}

class HdrWritersTest : public ::testing::Test {
  protected:
    void TearDown() override { setParallelThreads(0); }
    QString path(Writer w) const {
        return dir.filePath(w == Writer::Avif        ? "out.avif"
                            : w == Writer::TiffFloat ? "out.tif"
                                                     : "out.exr");
    }
    void write(Writer writer, const std::vector<double>& v, int w, int h) {
        const LinearRgbRows rows = rowsOf(v, w, h);
        switch (writer) {
            case Writer::TiffFloat:
                return writeTiffFloat(rows, path(writer));
            case Writer::ExrHalf:
            case Writer::ExrFloat:
                return writeExr(rows, path(writer),
                                writer == Writer::ExrHalf ? ExrPixels::Half : ExrPixels::Float, {});
            case Writer::Avif: {
                PqRows pq(rows, matrixToBt2020(*srgb()), 10);
                return writeAvifPq(pq.rows(), path(writer), {},
                                   [&pq] { return pq.contentLight(); });
            }
        }
    }
    QTemporaryDir dir;
};

// The half nearest to x: neither neighbour is nearer, and a tie goes to the
// even one; beyond the largest half, the largest.
bool nearestHalf(double x, half got) {
    if (x >= HALF_MAX) return static_cast<float>(got) == HALF_MAX;
    half below, above;
    below.setBits(static_cast<uint16_t>(got.bits() - (got.bits() > 0 ? 1 : 0)));
    above.setBits(static_cast<uint16_t>(got.bits() + 1));
    const double d = std::fabs(x - static_cast<float>(got));
    const double dBelow = std::fabs(x - static_cast<float>(below)),
                 dAbove = std::fabs(x - static_cast<float>(above));
    if (d == dBelow && got.bits() != below.bits()) return (got.bits() & 1) == 0;
    if (d == dAbove) return (got.bits() & 1) == 0;
    return d <= dBelow && d <= dAbove;
}

TEST_F(HdrWritersTest, FloatFilesHoldEachValueRoundedOnce) {
    const int w = 67, h = 41;
    const std::vector<double> v = sceneValues(w, h);
    for (Writer writer : {Writer::TiffFloat, Writer::ExrHalf, Writer::ExrFloat}) {
        write(writer, v, w, h);
        const FloatPixels p = writer == Writer::TiffFloat ? readFloatTiffPixels(path(writer))
                                                          : readExrPixels(path(writer));
        ASSERT_EQ(p.values.size(), v.size());
        for (size_t i = 0; i < v.size(); ++i) {
            if (writer == Writer::ExrHalf)
                ASSERT_TRUE(nearestHalf(v[i], half(p.values[i])))
                    << i << ": " << v[i] << " -> " << p.values[i];
            else
                ASSERT_EQ(p.values[i], static_cast<float>(v[i])) << i;
        }
    }
}

TEST_F(HdrWritersTest, TheBytesDoNotDependOnTheThreadCount) {
    const int w = 301, h = 211;  // several chunks, bands and tiles' worth of rows
    const std::vector<double> v = sceneValues(w, h);
    for (Writer writer : kWriters) {
        setParallelThreads(1);
        write(writer, v, w, h);
        const QByteArray one = readBytes(path(writer));
        setParallelThreads(3);
        write(writer, v, w, h);
        EXPECT_TRUE(readBytes(path(writer)) == one) << static_cast<int>(writer);
    }
}

// A file size limit stands in for a full disk: the save fails with the
// library's message, the older file stays and nothing half-written does.
TEST_F(HdrWritersTest, ADiskThatFillsUpKeepsTheOlderFile) {
    const int w = 400, h = 300;
    std::vector<double> v = sceneValues(w, h);
    for (Writer writer : kWriters) {
        write(writer, v, w, h);
        const QByteArray before = readBytes(path(writer));
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);  // EFBIG instead of a signal
        rlimit limit = saved;
        limit.rlim_cur = static_cast<rlim_t>(before.size() / 2);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        QString message;
        try {
            std::reverse(v.begin(), v.end());  // another image, so as not to pass by luck
            write(writer, v, w, h);
        } catch (const TiffError& e) {
            message = e.message();
        } catch (const LibraryError& e) {
            message = e.message();
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
        EXPECT_TRUE(message.contains("too large") || message.contains("Write error"))
            << message.toStdString();
        EXPECT_TRUE(readBytes(path(writer)) == before) << static_cast<int>(writer);
        EXPECT_FALSE(QFile::exists(path(writer) + ".part"));
    }
}

TEST_F(HdrWritersTest, ExrAttributesCarryTheShotAndThePrimaries) {
    // Adobe RGB (1998), made by LittleCMS from its published chromaticities.
    const cmsCIExyY white{0.3127, 0.3290, 1};
    const cmsCIExyYTRIPLE adobe{{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* curves[3] = {linear, linear, linear};
    const LcmsProfile profile(cmsCreateRGBProfile(&white, &adobe, curves));
    cmsFreeToneCurve(linear);
    const std::optional<RgbColourSpace> colours = readRgbProfile(saveProfile(profile.get()));
    ASSERT_TRUE(colours);
    ExrAttributes a;
    a.chromaticities = primariesOf(*colours);
    a.capDate = "2026:06:21 12:30:00";
    a.expTime = 1.0 / 250;
    a.aperture = 5.6;
    a.isoSpeed = 200;
    a.comments = "Blend of 3 frames";
    const std::vector<double> v = sceneValues(8, 8);
    writeExr(rowsOf(v, 8, 8), path(Writer::ExrHalf), ExrPixels::Half, a);
    const Imf::Header header = readExrHeader(path(Writer::ExrHalf));
    ASSERT_TRUE(Imf::hasChromaticities(header));
    const Imf::Chromaticities& c = Imf::chromaticities(header);
    const Imath::V2f got[4] = {c.red, c.green, c.blue, c.white};
    const cmsCIExyY want[4] = {adobe.Red, adobe.Green, adobe.Blue, white};
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(got[k].x, want[k].x, 1e-4) << k;
        EXPECT_NEAR(got[k].y, want[k].y, 1e-4) << k;
    }
    EXPECT_EQ(header.compression(), Imf::ZIP_COMPRESSION);
    EXPECT_EQ(Imf::capDate(header), "2026:06:21 12:30:00");
    EXPECT_FLOAT_EQ(Imf::expTime(header), 1.0f / 250);
    EXPECT_FLOAT_EQ(Imf::aperture(header), 5.6f);
    EXPECT_FLOAT_EQ(Imf::isoSpeed(header), 200);
    EXPECT_EQ(Imf::comments(header), "Blend of 3 frames");

    // dcraw's XYZ profile: the XYZ primaries themselves.
    const Primaries xyz = primariesOf(*readRgbProfile(version2Profile(
        {1.047836, 0.029556, -0.009216}, {0.022903, 0.990479, 0.015045},
        {-0.050125, -0.017044, 0.752029}, {0.950455, 1.0, 1.089050}, cmsSigXYZData)));
    EXPECT_EQ(xyz.red.x, 1);
    EXPECT_EQ(xyz.green.y, 1);
    EXPECT_EQ(xyz.blue.x + xyz.blue.y, 0);
    EXPECT_EQ(xyz.white.x, 1.0 / 3);
}

// The ST 2084 signal of a luminance, written out here as the standard does.
double pq(double nits) {
    const double m1 = 0.1593017578125, m2 = 78.84375, c1 = 0.8359375, c2 = 18.8515625, c3 = 18.6875;
    const double p = std::pow(std::clamp(nits / 10000, 0.0, 1.0), m1);
    return std::pow((c1 + c2 * p) / (1 + c3 * p), m2);
}

TEST_F(HdrWritersTest, AvifIsBt2100PqWithinItsPsnrBound) {
    const int w = 160, h = 96;
    std::vector<double> v(static_cast<size_t>(w) * h * 3);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(1, 0.01);
    for (int y = 0; y < h; ++y)  // a sky, a grey ramp and a spot 3 stops over image 1's clip level
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                v[(static_cast<size_t>(y) * w + x) * 3 + c] =
                    (y < h / 2 ? 0.05 * (1 + c) : std::exp2(-12.0 + 12.0 * x / w)) * noise(rng) +
                    (std::hypot(x - 120, y - 20) < 6 ? 8 : 0);
    TiffTags tags;
    tags.make = "Maker";
    tags.exif.exposureTime = 1.0 / 250;
    tags.exif.iso = 400;
    const LinearRgbRows rows = rowsOf(v, w, h);
    PqRows pqRows(rows, matrixToBt2020(*srgb()), 10);
    AvifPqOptions options;
    options.exif = exifBlock(tags);
    writeAvifPq(pqRows.rows(), path(Writer::Avif), options,
                [&pqRows] { return pqRows.contentLight(); });

    const DecodedAvif d = decodeAvif(path(Writer::Avif));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ((std::array{d.primaries, d.transfer, d.matrix}), (std::array{9, 16, 9}));
    EXPECT_EQ(d.depth, 10);
    EXPECT_TRUE(d.yuv444 && d.fullRange);
    // sRGB to BT.2020 (ITU-R BT.2087), PQ with 1.0 at 1000 cd/m².
    const double toBt2020[9] = {0.6274, 0.3293, 0.0433, 0.0691, 0.9195,
                                0.0114, 0.0164, 0.0880, 0.8956};
    double squares = 0, brightest = 0, sum = 0, greyError = 0;
    for (size_t i = 0; i < v.size(); i += 3) {
        double top = 0;
        for (size_t c = 0; c < 3; ++c) {
            const double nits = 1000 * (toBt2020[c * 3] * v[i] + toBt2020[c * 3 + 1] * v[i + 1] +
                                        toBt2020[c * 3 + 2] * v[i + 2]);
            const double e = d.codes[i + c] - pq(nits) * 1023;
            squares += e * e;
            top = std::max(top, std::min(nits, 10000.0));
        }
        brightest = std::max(brightest, top);
        sum += top;
    }
    const double psnr = 10 * std::log10(1023.0 * 1023 * static_cast<double>(v.size()) / squares);
    EXPECT_GE(psnr, 45);
    // Back through the inverse PQ, the grey ramp's middle is its scene value
    // within a few percent.
    const size_t mid = (static_cast<size_t>(h) * 3 / 4 * w + w / 2) * 3;
    const double m = std::pow(d.codes[mid + 1] / 1023.0, 1 / 78.84375);
    greyError = 10000 *
                    std::pow(std::max(m - 0.8359375, 0.0) / (18.8515625 - 18.6875 * m),
                             1 / 0.1593017578125) /
                    1000 / v[mid + 1] -
                1;
    EXPECT_LT(std::fabs(greyError), 0.05);
    const auto light = contentLightLevel(path(Writer::Avif));
    ASSERT_TRUE(light);
    // Within the published matrix's four decimals.
    EXPECT_NEAR((*light)[0], brightest, 1e-3 * brightest);
    EXPECT_NEAR((*light)[1], sum / (w * h), 1e-3 * sum / (w * h) + 0.5);
    ExifFields exif = readExif(d.exif);
    EXPECT_EQ(exif.text[0x010F], "Maker");
    EXPECT_TRUE(exif.text[0x0131].startsWith("Orrindale"));
    EXPECT_DOUBLE_EQ(exif.number[0x829A], 1.0 / 250);
    EXPECT_EQ(exif.number[0x8827], 400);
}

// A step quantiser finds the same code as a search through its steps, over
// 40 octaves of values and at the steps themselves.
TEST(StepQuantizer, FindsTheCodeItsStepsGive) {
    std::vector<double> steps;
    for (int k = 0; k < 4000; ++k)
        steps.push_back(std::exp2(-30 + 0.01 * k) * (1 + 0.001 * (k % 7)));
    const StepQuantizer q(steps);
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> stops(-35, 12);
    std::vector<double> values(steps.begin(), steps.end());
    for (int i = 0; i < 20000; ++i) values.push_back(std::exp2(stops(rng)));
    values.push_back(0);
    for (double x : values)
        ASSERT_EQ(q(x), std::upper_bound(steps.begin(), steps.end(), x) - steps.begin()) << x;
}

}  // namespace

namespace {

// libavif refusing the image throws its own message, and no file (nor its
// temporary) is left.
TEST_F(HdrWritersTest, ARefusalOfLibavifTellsItsMessage) {
    RgbRows codes;
    codes.width = 16;
    codes.height = 8;
    codes.fill = [](int32_t, int32_t count, uint16_t* out) {
        std::fill_n(out, count * 16 * 3, 512);
    };
    AvifPqOptions options;
    options.depth = 11;  // AV1 has 8, 10 and 12 bits
    try {
        writeAvifPq(codes, path(Writer::Avif), options, {});
        ADD_FAILURE() << "an 11-bit AVIF was written";
    } catch (const LibraryError& e) {
        EXPECT_TRUE(e.message().startsWith("libavif: ")) << e.what();
    }
    EXPECT_FALSE(QFile::exists(path(Writer::Avif)) || QFile::exists(path(Writer::Avif) + ".part"));
}

}  // namespace
