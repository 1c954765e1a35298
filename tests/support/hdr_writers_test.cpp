// The float TIFF, OpenEXR and HDR AVIF writers, each file read back with its
// format's own library: values, attributes, primaries, PQ signalling and
// PSNR, the same bytes on any thread count, a disk that fills up, a refusal.
#include "blend/hdr_output.h"
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

// Values over 40 stops and past the largest half, some exactly halfway
// between two halves, one just past halfway (a float would round it onto
// the halfway point), and a smooth first row.
std::vector<double> sceneValues(int w, int h) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> stops(-30, 10);
    std::vector<double> v(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = i < static_cast<size_t>(w) * 3 ? 0.3 + 1e-3 * i : std::exp2(stops(rng));
    const double exact[] = {0,           1 + 0x1p-11, 1 + 3 * 0x1p-11, 1 + 0x1p-11 + 0x1p-40,
                            3 * 0x1p-25, 65504,       65520,           1e5};
    std::copy(std::begin(exact), std::end(exact), v.begin() + 3 * w);
    return v;
}

class HdrWritersTest : public ::testing::Test {
  protected:
    void TearDown() override { setParallelThreads(0); }
    QString path(Writer w) const {
        return dir.filePath(w == Writer::Avif        ? "out.avif"
                            : w == Writer::TiffFloat ? "out.tif"
                                                     : "out.exr");
    }
    LinearRgbRows rowsOf(const std::vector<double>& v, int w, int h) const {
        return {w, h, [&v, w](int32_t first, int32_t count, double* out) {
                    std::copy_n(v.data() + static_cast<size_t>(first) * w * 3,
                                static_cast<size_t>(count) * w * 3, out);
                }};
    }
    void write(Writer writer, const std::vector<double>& v, int w, int h,
               const AvifPqOptions& avif = {}) {
        const LinearRgbRows rows = rowsOf(v, w, h);
        if (writer == Writer::TiffFloat) return writeTiffFloat(rows, path(writer));
        if (writer != Writer::Avif)
            return writeExr(rows, path(writer),
                            writer == Writer::ExrHalf ? ExrPixels::Half : ExrPixels::Float, {});
        PqRows pq(rows, matrixToBt2020(*readRgbProfile(dcrawStyleSrgb())), 10);
        writeAvifPq(pq.rows(), path(writer), avif, [&pq] { return pq.contentLight(); });
    }
    QTemporaryDir dir;
};

// Neither neighbouring half is nearer to x, a tie goes to the even one; past
// the largest half, the largest.
bool isNearestHalf(double x, half got) {
    if (x >= HALF_MAX) return static_cast<float>(got) == HALF_MAX;
    for (int step : {-1, 1}) {
        half other;
        other.setBits(static_cast<uint16_t>(std::max(0, got.bits() + step)));
        const double d = std::fabs(x - static_cast<float>(got)),
                     e = std::fabs(x - static_cast<float>(other));
        if (e < d || (e == d && other.bits() != got.bits() && (got.bits() & 1))) return false;
    }
    return true;
}

// Each value rounded once, the same bytes on any thread count, and a full
// disk (a file size limit stands in) that keeps the older file.
TEST_F(HdrWritersTest, ValuesThreadsAndAFullDisk) {
    const int w = 301, h = 211;  // several chunks, bands and tiles' worth
    std::vector<double> v = sceneValues(w, h);
    for (Writer writer : {Writer::TiffFloat, Writer::ExrHalf, Writer::ExrFloat, Writer::Avif}) {
        setParallelThreads(1);
        write(writer, v, w, h);
        const QByteArray one = readBytes(path(writer));
        setParallelThreads(3);
        write(writer, v, w, h);
        EXPECT_TRUE(readBytes(path(writer)) == one) << static_cast<int>(writer);
        if (writer != Writer::Avif) {
            const std::vector<float> got = writer == Writer::TiffFloat
                                               ? readFloatTiffPixels(path(writer))
                                               : readExrPixels(path(writer));
            ASSERT_EQ(got.size(), v.size());
            for (size_t i = 0; i < v.size(); ++i)
                ASSERT_TRUE(writer == Writer::ExrHalf ? isNearestHalf(v[i], half(got[i]))
                                                      : got[i] == static_cast<float>(v[i]))
                    << i << ": " << v[i] << " -> " << got[i];
        }
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);  // EFBIG instead of a signal
        rlimit limit = saved;
        limit.rlim_cur = static_cast<rlim_t>(one.size() / 2);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        std::reverse(v.begin(), v.end());
        QString message;
        try {
            write(writer, v, w, h);
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
        EXPECT_TRUE(message.contains("too large") || message.contains("Write error"))
            << message.toStdString();
        EXPECT_TRUE(readBytes(path(writer)) == one);
        EXPECT_FALSE(QFile::exists(path(writer) + ".part"));
    }
}

TEST_F(HdrWritersTest, ExrAttributesCarryTheShotAndThePrimaries) {
    // dcraw's sRGB profile against sRGB's published chromaticities.
    const ExrAttributes a{primariesOf(*readRgbProfile(dcrawStyleSrgb())),
                          "2026:06:21 12:30:00",
                          1.0 / 250,
                          5.6,
                          200,
                          "Blend of 3 frames"};
    const std::vector<double> v = sceneValues(8, 8);
    writeExr(rowsOf(v, 8, 8), path(Writer::ExrHalf), ExrPixels::Half, a);
    const Imf::Header header = readExrHeader(path(Writer::ExrHalf));
    ASSERT_TRUE(Imf::hasChromaticities(header));
    const Imf::Chromaticities& c = Imf::chromaticities(header);
    const Imath::V2f got[4] = {c.red, c.green, c.blue, c.white};
    const double want[8] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};
    for (int k = 0; k < 8; ++k) EXPECT_NEAR(got[k / 2][k % 2], want[k], 2e-4) << k;
    EXPECT_EQ(header.compression(), Imf::ZIP_COMPRESSION);
    EXPECT_EQ(Imf::capDate(header), "2026:06:21 12:30:00");
    EXPECT_FLOAT_EQ(Imf::expTime(header), 1.0f / 250);
    EXPECT_FLOAT_EQ(Imf::aperture(header), 5.6f);
    EXPECT_FLOAT_EQ(Imf::isoSpeed(header), 200);
    EXPECT_EQ(Imf::comments(header), "Blend of 3 frames");
}

TEST_F(HdrWritersTest, AvifIsBt2100PqWithinItsPsnrBound) {
    const int w = 160, h = 96;
    std::vector<double> v(static_cast<size_t>(w) * h * 3);
    std::mt19937 rng(3);
    std::normal_distribution<double> grain(1, 0.01);
    for (size_t i = 0; i < v.size(); ++i) {  // a grey ramp over 12 stops, a spot 3 stops over 1.0
        const size_t x = i / 3 % w, y = i / 3 / w;
        v[i] = std::exp2(-12.0 + 12.0 * x / w) * grain(rng) +
               (std::hypot(x - 120.0, y - 20.0) < 6 ? 8 : 0);
    }
    TiffTags tags;
    tags.make = "Maker";
    AvifPqOptions options;
    options.exif = exifBlock(tags);
    write(Writer::Avif, v, w, h, options);
    const DecodedAvif d = decodeAvif(path(Writer::Avif));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.cicp, (std::array{9, 16, 9}));
    EXPECT_TRUE(d.depth == 10 && d.yuv444 && d.fullRange);
    EXPECT_TRUE(d.exif.contains("Maker"));
    // The decoded codes against those encoded, then back through ST 2084
    // (written out here) to the scene, 1000 cd/m² per 1.0 on the whole.
    const LinearRgbRows rows = rowsOf(v, w, h);
    PqRows pq(rows, matrixToBt2020(*readRgbProfile(dcrawStyleSrgb())), 10);
    std::vector<uint16_t> source(v.size());
    pq.rows().fill(0, h, source.data());
    double squares = 0, shown = 0, scene = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        squares += std::pow(static_cast<double>(d.codes[i]) - source[i], 2);
        const double p = std::pow(d.codes[i] / 1023.0, 1 / 78.84375);
        const double nits =
            10000 * std::pow(std::max(p - 0.8359375, 0.0) / (18.8515625 - 18.6875 * p),
                             1 / 0.1593017578125);
        if (v[i] > 0.01 && v[i] < 1) {
            shown += nits;
            scene += 1000 * v[i];
        }
    }
    EXPECT_GE(10 * std::log10(1023.0 * 1023 * static_cast<double>(v.size()) / squares), 45);
    EXPECT_NEAR(shown / scene, 1, 0.01);
    const ContentLightLevel light = pq.contentLight();
    EXPECT_EQ(contentLightLevel(path(Writer::Avif)), (std::array{light.maxCll, light.maxFall}));
    // The brightest value at 1000 cd/m² per 1.0 (grey, so alike in BT.2020).
    const double top = 1000 * *std::max_element(v.begin(), v.end());
    EXPECT_NEAR(light.maxCll, top, 0.01 * top);

    // A refusal of libavif's (AV1 has no 11-bit depth) is its own message; no file is left.
    QFile::remove(path(Writer::Avif));
    options.depth = 11;
    EXPECT_THROW(
        try { write(Writer::Avif, v, w, h, options); } catch (const LibraryError& e) {
            EXPECT_TRUE(e.message().startsWith("libavif: ")) << e.what();
            throw;
        },
        LibraryError);
    EXPECT_FALSE(QFile::exists(path(Writer::Avif)) || QFile::exists(path(Writer::Avif) + ".part"));
}

// The steps give the code, found from the table as a search of them finds it.
TEST(StepQuantizer, FindsTheCodeItsStepsGive) {
    std::vector<double> steps;
    for (int k = 0; k < 4000; ++k)
        steps.push_back(std::exp2(-30 + 0.01 * k) * (1 + 0.001 * (k % 7)));
    const StepQuantizer q(steps);
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> stops(-35, 12);
    std::vector<double> values(steps);
    for (int i = 0; i < 20000; ++i) values.push_back(std::exp2(stops(rng)));
    values.push_back(0);
    for (double x : values)
        ASSERT_EQ(q(x), std::upper_bound(steps.begin(), steps.end(), x) - steps.begin()) << x;
}

}  // namespace
