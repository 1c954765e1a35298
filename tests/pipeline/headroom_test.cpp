// Frames developed with headroom: each channel clips where the sensor does,
// green and blue well below full scale. The map, both merges and the exposure
// measurement then judge each channel by where the frames show it clips.
#include "pipeline/set_pipeline.h"
#include "set/noise_model.h"
#include "support/recording_reporter.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QTemporaryDir>
#include <cmath>
#include <random>

namespace {

// Daylight multipliers: with headroom green clips at 65535 / 2.132483 and
// blue at 65535 * 1.480864 / 2.132483, red at full scale.
constexpr double kClip[3] = {65535, 30732, 45510};
constexpr int kWidth = 240, kHeight = 160, kFrames = 3;

// A near-neutral scene over about ten stops, as linear values at image 1's
// exposure (image 1's own rendering without its clip).
double scene(int x, int y, int c) {
    const double u = static_cast<double>(x) / (kWidth - 1),
                 v = static_cast<double>(y) / (kHeight - 1);
    const double stops = 9.5 * (0.8 * u + 0.2 * v) + 0.25 * std::sin(x * 0.41 + y * 0.17);
    const double colour[3] = {0.93, 1.0, 0.86};
    return 60 * std::exp2(stops) * colour[c];
}

// Frame k (0-based) is 4^k times image 1's exposure: 1 % noise and a floor,
// and each channel stuck at its clip level once the sensor saturates.
GflBitmap frame(int k, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> unit(0.0, 1.0);
    return makeBitmap(kWidth, kHeight, [&](int x, int y, int c) {
        const double signal = scene(x, y, c) * std::exp2(2 * k);
        return std::min(kClip[c], signal + unit(rng) * (0.01 * signal + 12));
    });
}

struct Blended {
    GflBitmap select, weighted;
    QStringList mapLog;  // "Build map"'s lines
};

Blended blendBothWays(const QString& folder, bool headroom) {
    const QString ref = folder + "IMG_1.CR2";
    QStringList raws;
    for (int k = 1; k <= kFrames; ++k) raws << QStringLiteral("IMG_%1.CR2").arg(k);
    SetSettings s = defaultSettings();
    s.develop.headroom = headroom;
    s.blend.gamma = 10;
    s.gammaChosen = true;
    deriveSettings(s);
    ImageSet set;
    RecordingReporter rep;
    SetPipeline pipeline(set, rep);
    EXPECT_TRUE(pipeline.measure(ref, raws, s).ok()) << rep.log.toStdString();
    const StageOutcome map = pipeline.buildMap(ref, s);
    EXPECT_TRUE(map.ok()) << rep.log.toStdString();
    s.blend.rutaMapa = map.files.value(0);
    Blended b;
    b.mapLog = rep.logLines();
    for (const BlendMerge merge : {BlendMerge::Select, BlendMerge::Weighted}) {
        s.blend.merge = merge;
        const StageOutcome out = pipeline.blend(ref, s);
        EXPECT_TRUE(out.ok()) << rep.log.toStdString();
        RecordingReporter readRep;
        CargarGflBitmap(out.files.value(out.files.size() - 1),
                        merge == BlendMerge::Select ? b.select : b.weighted, readRep);
        for (const QString& f : out.files) QFile::remove(f);
    }
    return b;
}

// The largest error of any channel against the scene, in percent, over
// 4 x 4 blocks (so that noise averages out) where image 1 is unclipped and
// bright enough to be measured.
double largestError(const GflBitmap& out) {
    double worst = 0;
    for (int y0 = 0; y0 + 4 <= kHeight; y0 += 4)
        for (int x0 = 0; x0 + 4 <= kWidth; x0 += 4)
            for (int c = 0; c < 3; ++c) {
                double sum = 0, truth = 0;
                bool measured = true;
                for (int y = y0; y < y0 + 4; ++y)
                    for (int x = x0; x < x0 + 4; ++x) {
                        const double t = scene(x, y, c);
                        measured = measured && t < 0.9 * kClip[c] && t >= 2000;
                        truth += t;
                        sum += out.row(y)[x * 3 + c];
                    }
                if (measured) worst = std::max(worst, 100 * std::fabs(sum - truth) / truth);
            }
    return worst;
}

TEST(Headroom, EachChannelIsUsedUpToWhereTheFramesShowItClips) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    std::vector<GflBitmap> frames;
    QStringList tiffs;
    for (int k = 0; k < kFrames; ++k) {
        frames.push_back(frame(k, 31 + static_cast<uint32_t>(k)));
        tiffs << QStringLiteral("IMG_%1.tiff").arg(k + 1);
    }
    writeTiffSet(folder, tiffs, frames);

    const Blended withHeadroom = blendBothWays(folder, true);
    // The thresholds are 90 % of the levels the frames pile up at; red never
    // clips in a neutral scene, so it keeps full scale.
    const QStringList& log = withHeadroom.mapLog;
    EXPECT_TRUE(log.contains("R: 58982")) << log.join('\n').toStdString();
    EXPECT_TRUE(log.contains("G: 27659"));
    EXPECT_TRUE(log.contains("B: 40959"));
    // Both merges follow the scene wherever image 1 saw it.
    EXPECT_LT(largestError(withHeadroom.select), 2.0);
    EXPECT_LT(largestError(withHeadroom.weighted), 2.0);

    // Without headroom the same frames pass for unclipped up to 90 % of full
    // scale, and the clipped green of the brighter frames is taken.
    const Blended without = blendBothWays(folder, false);
    EXPECT_GT(largestError(without.select), 30.0);
}

}  // namespace
