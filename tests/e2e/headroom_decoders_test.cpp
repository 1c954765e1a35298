// Headroom through the real decoders: with -H 1 each channel of a developed
// frame piles up where the sensor clips (red, whose multiplier is the largest,
// at full scale; green and blue below by their multipliers), without it every
// channel is clipped at full scale.
#include "develop/dcraw_command.h"
#include "develop/decoder.h"
#include "pipeline/set_settings.h"
#include "set/noise_model.h"
#include "support/recording_reporter.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// The developed frame's pile-up level per channel (0: none).
std::array<int, 3> pileUps(const QString& tiff) {
    GflBitmap image;
    RecordingReporter rep;
    EXPECT_FALSE(CargarGflBitmap(tiff, image, rep)) << rep.log.toStdString();
    std::array<std::vector<uint32_t>, 3> counts;
    for (auto& c : counts) c.assign(65536, 0);
    for (size_t i = 0; i < image.pixels.size(); ++i) ++counts[i % 3][image.pixels[i]];
    return {pileUpLevel(counts[0]), pileUpLevel(counts[1]), pileUpLevel(counts[2])};
}

TEST(HeadroomDecoders, EachChannelPilesUpWhereTheSensorClips) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    // Three frames 2 EV apart: the brightest clips its sky, lamp and windows.
    ASSERT_EQ(QProcess::execute(ORRINDALE_MAKE_BRACKET, {"--count", "3", "--width", "320",
                                                         "--height", "214", "--out", folder}),
              0);
    DevelopSettings s = defaultSettings().develop;
    s.perfil = 0;  // the camera's own colours: no matrix mixes the channels
    const double m[3] = {2.132483, 1, 1.480864};
    for (const Decoder& decoder : {Decoder::dcraw(), Decoder::libRaw()}) {
        if (!QFile::exists(decoder.program)) continue;
        for (const bool headroom : {false, true}) {
            s.headroom = headroom;
            QStringList args = opcionesDCRAW(s, false, false);
            if (decoder.kind == DecoderKind::LibRaw)
                args << "-Z"
                     << "tiff";
            QProcess run;
            run.setStandardOutputFile(QProcess::nullDevice());
            run.start(decoder.program, args << folder + "IMG_0003.dng");
            ASSERT_TRUE(run.waitForFinished(60000));
            const std::array<int, 3> level = pileUps(folder + "IMG_0003.tiff");
            for (size_t c = 0; c < 3; ++c) {
                const double expected = headroom ? 65535 * m[c] / m[0] : 65535;
                EXPECT_NEAR(level[c], expected, 0.01 * expected)
                    << decoder.name().toStdString() << (headroom ? " with" : " without")
                    << " headroom, channel " << c;
            }
            QFile::remove(folder + "IMG_0003.tiff");
        }
    }
}

}  // namespace
