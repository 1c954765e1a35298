// The weighted merge: inverse-variance means, the consistency rule, the taper
// at the clip level, what it measures on the set, its log, and the fast blend
// against a plain pixel-by-pixel one on random sets.
#include "blend/weighted.h"
#include "pipeline/blend_stage.h"
#include "maps/maps.h"
#include "support/parallel.h"
#include "support/recording_reporter.h"
#include "tests/common/blend_reference.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/map_reference.h"
#include "tests/common/test_images.h"
#include "tests/common/weighted_reference.h"

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

// A model with clip levels from 30000 to beyond full scale (clamped there),
// some between whole values, and noise from nearly none to far above a dark
// image's signal.
WeightedModel randomModel(size_t n, std::mt19937& rng) {
    std::uniform_real_distribution<double> clip(30000, 80000), a(-2, 5), b(0, 12);
    WeightedModel m = modelOf(n, {});
    for (size_t k = 0; k < n; ++k)
        for (size_t c = 0; c < 3; ++c) {
            m.clipLevel[k][c] = c == 0 ? std::round(clip(rng)) + 0.5 : clip(rng);
            m.noise[k][c] = {std::exp2(a(rng)), std::exp2(b(rng))};
        }
    return m;
}

// A bracket of one random scene, image k `gap` times brighter than image
// k - 1, noisy as `model` says and clipped where it says (at its clip level
// or full scale); 5 % of the samples are anything or clipped, as if something
// moved.
std::vector<GflBitmap> randomBracket(int w, int h, double gap, const WeightedModel& model,
                                     std::mt19937& rng) {
    std::uniform_real_distribution<double> stops(-3, 17), unit(0, 1);
    std::normal_distribution<double> gauss;
    // Greyish: the channels of a pixel within a stop of each other.
    std::vector<double> scene(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < scene.size(); i += 3) {
        const double level = stops(rng);
        for (size_t c = 0; c < 3; ++c) scene[i + c] = std::exp2(level + unit(rng));
    }
    std::vector<GflBitmap> frames;
    for (size_t k = 0; k < model.noise.size(); ++k)
        frames.push_back(makeBitmap(w, h, [&](int x, int y, int c) {
            const double moved = unit(rng);
            if (moved < 0.05) return moved < 0.02 ? 65535 : 65535 * unit(rng);
            const size_t i = (static_cast<size_t>(y) * w + x) * 3 + static_cast<size_t>(c);
            const double s = scene[i] * std::pow(gap, static_cast<double>(k));
            const ChannelNoise& noise = model.noise[k][static_cast<size_t>(c)];
            const double clip = model.clipLevel[k][static_cast<size_t>(c)];
            const double value = s + gauss(rng) * std::sqrt(noise.a * s + noise.b);
            return value < clip ? value : unit(rng) < 0.5 ? std::ceil(clip) : 65535;
        }));
    return frames;
}

TEST(WeightedMerge, FastBlendEqualsThePlainOneOnRandomSets) {
    struct Case {
        int w, h, n;
        double gap;
        bool bw, covered;
        int gamma, threads;
    };
    // Widths that are not whole lane groups, one-pixel columns and rows (the
    // image's last sample is read alone), coverage, B&W, gamma 1, and long
    // brackets whose darkest images are left out or whose top images are far
    // less noisy than a dark choice.
    const Case cases[] = {
        {1, 13, 2, 4, false, false, 10, 1},    {1, 9, 5, 2, true, true, 22, 2},
        {6, 1, 3, 3, false, true, 18, 3},      {5, 7, 3, 1.5, false, true, 22, 3},
        {13, 11, 4, 4.1, false, false, 10, 2}, {17, 20, 6, 2.5, false, true, 22, 1},
        {32, 17, 5, 4, true, false, 24, 3},    {33, 40, 6, 1.4, true, true, 10, 2},
        {64, 33, 3, 2, false, true, 30, 3},    {29, 26, 6, 4.5, false, false, 22, 2},
        {64, 48, 8, 4, false, false, 22, 2},   {48, 40, 7, 4.1, true, true, 10, 3},
    };
    std::mt19937 rng(77);
    for (const Case& c : cases)
        for (int variant = 0; variant < 3; ++variant) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " n=" << c.n << " bw=" << c.bw
                                            << " covered=" << c.covered << " variant=" << variant);
            const WeightedModel model = randomModel(static_cast<size_t>(c.n), rng);
            Blend b(randomBracket(c.w, c.h, c.gap, model, rng), 1, c.gap, c.gamma);
            b.input.blancoNegro = c.bw;
            b.input.weights =
                mixWeights(static_cast<int>(rng() % 60), static_cast<int>(rng() % 40));
            // Mostly the brightest image unclipped there or a darker one, as
            // anti-ghosting leaves it; else any level, progressive ones too.
            for (size_t i = 0; i < b.levels.size(); ++i) {
                int best = 1;
                for (int k = 2; k <= c.n; ++k) {
                    const uint16_t* s =
                        b.set.ImagenesTIFF[static_cast<size_t>(k) - 1].pixels.data() + i * 3;
                    const auto& clip = model.clipLevel[static_cast<size_t>(k) - 1];
                    if (s[0] < clip[0] && s[1] < clip[1] && s[2] < clip[2]) best = k;
                }
                b.levels[i] = rng() % 3 ? greyOfImage(1 + static_cast<int>(rng() % best), c.n)
                                        : static_cast<uint8_t>(rng());
            }
            // An ETTR gain on every factor.
            const double gain = variant == 0 ? 1 : 1 + (rng() % 1000) / 400.0;
            for (double& q : b.set.ExpRelativas) q *= gain;
            if (c.covered) {
                b.set.Cobertura.assign(static_cast<size_t>(c.n), CoveredRows());
                for (size_t k = 1 + rng() % 2; k < b.set.Cobertura.size(); ++k)
                    for (int y = 0; y < c.h; ++y) {
                        const int32_t from = static_cast<int32_t>(rng() % (c.w + 1));
                        b.set.Cobertura[k].begin.push_back(from);
                        b.set.Cobertura[k].end.push_back(
                            from + static_cast<int32_t>(rng() % (c.w + 1 - from)));
                    }
            }
            const LiteralWeighted plain = literalWeighted(b.input, model);
            setParallelThreads(c.threads);
            const WeightedBlender blender(b.input, model);
            const WeightedResult planes = blendWeighted(blender, true);
            const WeightedResult single = blendWeighted(blender, false);
            setParallelThreads(0);
            EXPECT_EQ(planes.shares, plain.shares);
            EXPECT_EQ(single.shares, plain.shares);
            auto samplesOf = [&](const WeightedResult& r, double factor) {
                std::vector<uint16_t> out(plain.values.size());
                r.rows(factor).fill(0, c.h, out.data());
                return out;
            };
            ASSERT_EQ(samplesOf(single, 1), plain.samples(1));
            // The planes to the bit, and the files made from them.
            ASSERT_TRUE(
                std::equal(plain.values.begin(), plain.values.end(), planes.planes.values.get()));
            // Three brackets 2 EV apart, through the gamma.
            for (const double ev : {0.0, 2.0, 4.0}) {
                const double factor =
                    ev == 0 ? 1.0 : std::pow(std::exp2(ev), static_cast<double>(b.input.g));
                ASSERT_EQ(samplesOf(planes, factor), plain.samples(factor)) << ev << " EV";
            }
        }
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
