// The weighted merge: inverse-variance means, the consistency rule, the taper
// at the clip level, what it measures on the set, and its log.
#include "blend/weighted.h"
#include "pipeline/blend_stage.h"
#include "maps/maps.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"
#include "tests/common/blend_reference.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/map_reference.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstring>
#include <random>

namespace {

WeightedModel modelOf(size_t n, std::array<ChannelNoise, 3> noise, double clip = 65535) {
    WeightedModel m;
    m.clipLevel.assign(n, {clip, clip, clip});
    m.noise.assign(n, noise);
    m.measured = true;
    return m;
}

// A set blended through a map that names one image everywhere.
struct Blend {
    Blend(std::vector<GflBitmap> frames, int chosen, double gap = 4.0, int gamma = 10)
        : set(memorySet("/none/", std::move(frames), gap)),
          levels(static_cast<size_t>(set.AnchoImagen) * set.AltoImagen,
                 greyOfImage(chosen, static_cast<int>(set.ImagenesTIFF.size()))),
          input{set, levels, set.ExpRelativas, inverseGamma(gamma), false, mixWeights(33, 33)} {
        const std::vector<float> tabla = buildTablaMapa(static_cast<int>(set.ImagenesTIFF.size()));
        for (size_t l = 0; l < 256; ++l) {
            const int k = static_cast<int>(tabla[l]);
            input.levels[l] = {k, tabla[l] - static_cast<float>(k),
                               static_cast<float>(k) == tabla[l], true};
        }
    }
    WeightedResult run(const WeightedModel& model) const {
        return blendWeighted(WeightedBlender(input, model), true);
    }
    ImageSet set;
    std::vector<uint8_t> levels;
    BlendInput input;
};

double at(const WeightedResult& r, int x, int y, int c) {
    return r.planes.values[(static_cast<size_t>(y) * r.planes.width + x) * 3 + c];
}

TEST(WeightedMerge, AFlatPatchIsTheInverseVarianceMean) {
    // Image 2 5 % brighter than 4 x image 1, still within the noise: the
    // weights come from the map's choice, not from each sample.
    const uint16_t dark[3] = {1000, 2500, 6000}, bright[3] = {4200, 10500, 25200};
    const std::array<ChannelNoise, 3> noise{{{2, 40}, {3, 200}, {1.5, 10}}};
    for (const int gamma : {10, 22}) {
        Blend b({uniformBitmap(8, 6, dark[0], dark[1], dark[2]),
                 uniformBitmap(8, 6, bright[0], bright[1], bright[2])},
                2, 4.0, gamma);
        const WeightedResult r = b.run(modelOf(2, noise));
        double shares[2] = {0, 0};
        for (int c = 0; c < 3; ++c) {
            // Variances at the map's choice, image 2 brought to image 1.
            const double v = bright[c] * 0.25;
            const double var1 = noise[c].a * v + noise[c].b;
            const double var2 = noise[c].a * 0.25 * v + noise[c].b / 16;
            const double mean = (dark[c] / var1 + v / var2) / (1 / var1 + 1 / var2);
            EXPECT_NEAR(at(r, 5, 3, c), encodeGamma(mean, inverseGamma(gamma)), 0.02) << c;
            shares[0] += (1 / var1) / (1 / var1 + 1 / var2) / 3;
            shares[1] += (1 / var2) / (1 / var1 + 1 / var2) / 3;
        }
        for (size_t k = 0; k < 2; ++k) EXPECT_NEAR(r.shares[k] / 48, shares[k], 1e-6);
    }
}

TEST(WeightedMerge, AFrameWhosePatchMovedContributesNothingThere) {
    // A bright patch at x 2..5 in image 1 has moved to x 10..13 in image 2.
    auto frame = [](int from, uint16_t level, uint16_t patch) {
        return makeBitmap(
            16, 4, [=](int x, int, int) { return x >= from && x < from + 4 ? patch : level; });
    };
    Blend b({frame(2, 1000, 9000), frame(10, 4000, 36000)}, 2);
    const WeightedResult r = b.run(modelOf(2, {{{2, 40}, {2, 40}, {2, 40}}}));
    for (int x : {3, 11}) EXPECT_NEAR(at(r, x, 1, 1), (x == 3 ? 4000 : 36000) * 0.25, 0.01) << x;
    // Elsewhere both frames agree and both count.
    EXPECT_NEAR(at(r, 8, 1, 1), 1000, 0.01);
    EXPECT_GT(r.shares[0] / 64, 0.05);
}

TEST(WeightedMerge, AnAlignedFrameCountsOnlyWhereItSaw) {
    // Image 2 saw x 0..3 of every row; beyond, its samples are filler and
    // the result is image 1 alone, its share nothing.
    const uint16_t dark[3] = {1000, 2500, 6000}, bright[3] = {4200, 10500, 25200};
    Blend b({uniformBitmap(8, 6, dark[0], dark[1], dark[2]),
             uniformBitmap(8, 6, bright[0], bright[1], bright[2])},
            2);
    b.set.Cobertura = {CoveredRows(),
                       CoveredRows{std::vector<int32_t>(6, 0), std::vector<int32_t>(6, 4)}};
    const std::array<ChannelNoise, 3> noise{{{2, 40}, {3, 200}, {1.5, 10}}};
    const WeightedResult r = b.run(modelOf(2, noise));
    for (int c = 0; c < 3; ++c) {
        EXPECT_NE(at(r, 2, 3, c), at(r, 6, 3, c)) << c;
        EXPECT_NEAR(at(r, 6, 3, c), encodeGamma(dark[c], inverseGamma(10)), 0.02) << c;
    }
    EXPECT_LT(r.shares[1], 24.0 + 1e-9);  // half the 48 pixels at most
}

TEST(WeightedMerge, TheTaperLeavesNoStepAtTheClipLevel) {
    // A ramp through image 2's clip level, image 2 0.4 % brighter than its
    // exposure says: cutting it off at once would step by 0.4 % there.
    const int w = 2000;
    auto ramp = [](int x) { return 12000.0 + 4 * x; };
    Blend b({makeBitmap(w, 1, [&](int x, int, int) { return ramp(x); }),
             makeBitmap(
                 w, 1,
                 [&](int x, int, int) { return std::min(65535.0, std::round(ramp(x) * 4.016)); })},
            1);
    const WeightedResult r = b.run(modelOf(2, {{{2, 40}, {2, 40}, {2, 40}}}));
    // Beyond the ramp's own rise of 4 a pixel: under a tenth of the noise
    // there (80), where a weight cut at once would step by 50.
    double widest = 0;
    for (int x = 1; x < w; ++x)
        widest = std::max(widest, std::fabs(at(r, x, 0, 0) - at(r, x - 1, 0, 0) - 4));
    EXPECT_LT(widest, 8.0);
    EXPECT_GT(at(r, 0, 0, 0), ramp(0) * 1.002);          // both images count below the clip
    EXPECT_NEAR(at(r, w - 1, 0, 0), ramp(w - 1), 0.01);  // only image 1 above it
}

TEST(WeightedMerge, ResultsDoNotDependOnTheThreads) {
    std::vector<GflBitmap> frames;
    for (int k = 0; k < 3; ++k) frames.push_back(bracketFrame(64, 50, std::pow(4.0, k), 11 + k));
    Blend b(std::move(frames), 3, 4.0, 22);
    const WeightedModel model = measureWeightedModel(b.set);
    EXPECT_TRUE(
        QRegularExpression("^Noise model \\(variance\\): R [\\d.]+ s \\+ [\\d.]+, G .+, B .+$")
            .match(describeNoiseModel(model))
            .hasMatch())
        << describeNoiseModel(model).toStdString();
    setParallelThreads(1);
    const WeightedResult one = b.run(model);
    setParallelThreads(3);
    const WeightedResult three = b.run(model);
    setParallelThreads(0);
    EXPECT_EQ(std::memcmp(one.planes.values.get(), three.planes.values.get(),
                          64 * 50 * 3 * sizeof(double)),
              0);
    EXPECT_EQ(one.shares, three.shares);
}

TEST(WeightedModelTest, PileUpsAreFoundWhereClippedSamplesLand) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, uint32_t>> spikes;  // value, count over a ramp of 1 per value
        bool ramp;
        int level;
    };
    const Case cases[] = {
        {"at full scale", {{65535, 50000}}, true, 65535},
        {"one below, a few above", {{65534, 50000}, {65535, 300}}, true, 65534},
        {"spread over three values", {{65533, 20000}, {65534, 40000}, {65535, 30000}}, true, 65533},
        {"lowered by a saturation setting", {{50000, 80000}}, true, 50000},
        {"one flat grey", {{40000, 500000}}, false, 0},
        {"nothing clipped", {}, true, 0},
        {"a handful", {{65535, 20}}, true, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> counts(65536, c.ramp ? 1 : 0);
        for (auto [v, n] : c.spikes) counts[static_cast<size_t>(v)] = n;
        EXPECT_EQ(pileUpLevel(counts), c.level) << c.name;
    }
}

TEST(WeightedModelTest, PairNoiseRecoversAKnownModel) {
    // Signal from 20 to 16000 across the darker frame, noise a s + b in both.
    const double a = 2.5, bNoise = 60;
    std::mt19937 rng(3);
    std::normal_distribution<double> unit;
    auto frame = [&](double gain) {
        return makeBitmap(800, 600, [&](int x, int, int) {
            const double s = gain * 20 * std::exp2(x / 800.0 * 9.6);
            return std::round(s + unit(rng) * std::sqrt(a * s + bNoise));
        });
    };
    const GflBitmap dark = frame(1), bright = frame(4);
    const PairNoise p = measurePairNoise(dark, bright, 4, {65535, 65535, 65535});
    ASSERT_TRUE(p.measured);
    // The same frames, the brighter one aligned and seeing nothing it kept.
    const CoveredRows nothing{std::vector<int32_t>(600, 0), std::vector<int32_t>(600, 0)};
    EXPECT_FALSE(
        measurePairNoise(dark, bright, 4, {65535, 65535, 65535}, nullptr, &nothing).measured);
    for (const ChannelNoise& c : p.channel) {
        EXPECT_NEAR(c.a, a, a * 0.1);
        EXPECT_NEAR(c.b, bNoise, bNoise * 0.5);
    }
    const GflBitmap flat = uniformBitmap(800, 600, 1000, 1000, 1000);
    EXPECT_FALSE(
        measurePairNoise(flat, uniformBitmap(800, 600, 4000, 4000, 4000), 4, {65535, 65535, 65535})
            .measured);
}

class WeightedProcedureTest : public ::testing::Test {
  protected:
    void blendFlatGrey(BlendSettings s) {
        set = diskSet(
            folder, {uniformBitmap(6, 4, 1000, 1000, 1000), uniformBitmap(6, 4, 4000, 4000, 4000)});
        set.TablaMapa = buildTablaMapa(2);
        set.TablaMapaImagenes = 2;
        QImage png(6, 4, QImage::Format_Grayscale8);
        png.fill(greyOfImage(2, 2));
        ASSERT_TRUE(png.save(folder + "Map_000000.png"));
        s.rutaMapa = folder + "Map_000000.png";
        s.perfil = "sRGB";
        s.gamma = 10;
        s.merge = BlendMerge::Weighted;
        ASSERT_EQ(FusionarImagenes(folder + "IMG_1.CR2", s, set, rep), 1) << rep.log.toStdString();
    }
    QTemporaryDir dir;
    QString folder = dir.path() + "/";
    ImageSet set;
    RecordingReporter rep;
};

TEST_F(WeightedProcedureTest, AFlatGreySetFallsBackToShotNoiseAndSaysSo) {
    blendFlatGrey({});
    QStringList lines = rep.logLines();
    lines.replaceInStrings(QRegularExpression("OD_\\d{6}_"), "OD_hhmmss_");
    EXPECT_EQ(
        lines.mid(lines.indexOf("Blending images (weighted)...")),
        (QStringList{"Blending images (weighted)...", "IMG_1.tiff: 20%", "IMG_2.tiff: 80%",
                     "Noise model: too little to measure, weights proportional to exposure", "",
                     "Building output file...", "Saving image as OD_hhmmss_sRGB_g1.tif", "DONE"}));
    const QStringList out = QDir(folder).entryList({"OD_*.tif"});
    ASSERT_EQ(out.size(), 1);
    GflBitmap image;
    ASSERT_FALSE(CargarGflBitmap(folder + out[0], image, rep));
    EXPECT_EQ(image.pixels[0], 1000);
}

TEST_F(WeightedProcedureTest, BracketsAndBlackAndWhiteComeFromTheSameWeights) {
    BlendSettings s;
    s.blancoNegro = true;
    s.numBracketing = 3;
    blendFlatGrey(s);
    const QStringList out = QDir(folder).entryList({"OD_BW_*.tif"});
    ASSERT_EQ(out.size(), 3) << rep.log.toStdString();
    const std::pair<const char*, uint16_t> expected[3] = {
        {"_0EV", 1000}, {"_+2EV", 4000}, {"_+4EV", 16000}};
    for (const auto& [suffix, value] : expected) {
        GflBitmap image;
        ASSERT_FALSE(CargarGflBitmap(folder + out.filter(suffix).value(0), image, rep)) << suffix;
        EXPECT_EQ(image.pixels[7], value) << suffix;
    }
}

}  // namespace
