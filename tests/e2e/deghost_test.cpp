// Deghost through orrindale-batch on brackets the generator makes with a
// moving subject, developed by the real dcraw, against the same scene with
// the subject standing still.
#include "develop/dcraw_command.h"
#include "support/gfl_bitmap.h"
#include "support/recording_reporter.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>

namespace {

// 5 frames of 600 x 400, 2 EV apart; a subject of 60 x 60 crossing the
// horizon (sky over dark ground) 25 pixels a frame, or standing.
QStringList scene(int y, int dy, bool noise = true) {
    QStringList args{"--width", "600",     "--height",
                     "400",     "--mover", QString("270,%1,60,60,0,%2").arg(y).arg(dy)};
    if (!noise) args << "--no-noise";
    return args;
}

int run(const QString& program, const QStringList& args, QString* out = nullptr) {
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(300000)) << program.toStdString();
    if (out) *out = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The bracket put through the batch at gamma 1.0 with stable names: its log,
// and its output's green channel.
struct Blended {
    QString log;
    std::vector<uint16_t> green;
};
Blended throughBatch(const QString& folder, const QStringList& batch) {
    Blended b;
    EXPECT_EQ(run(ORRINDALE_BATCH,
                  batch + QStringList{"--gamma", "1.0", "--stable-names", folder + "/IMG_0001.dng"},
                  &b.log),
              0)
        << b.log.toStdString();
    RecordingReporter rep;
    GflBitmap image;
    EXPECT_FALSE(CargarGflBitmap(folder + "/IMG_0001_OD_sRGB_g1.tif", image, rep));
    for (size_t i = 1; i < image.pixels.size(); i += 3) b.green.push_back(image.pixels[i]);
    return b;
}

// Root mean square difference where `areas` is tinted.
double differenceInAreas(const Blended& a, const Blended& b, const QImage& areas) {
    double sum = 0;
    long count = 0;
    for (int y = 0; y < areas.height(); ++y)
        for (int x = 0; x < areas.width(); ++x) {
            const QRgb c = areas.pixel(x, y);
            if (qRed(c) == qGreen(c)) continue;
            const size_t i = static_cast<size_t>(y) * areas.width() + x;
            sum += std::pow(static_cast<double>(a.green[i]) - b.green[i], 2);
            ++count;
        }
    EXPECT_GT(count, 60 * 60);
    return std::sqrt(sum / std::max(count, 1L));
}

TEST(DeghostEndToEnd, InItsAreaTheOutputIsAStillSetsWithinTheNoise) {
    ASSERT_TRUE(QFile::exists(RutaDCRAW)) << "dcraw is not installed";
    QTemporaryDir dir{QDir::tempPath() + "/o-XXXXXX"};
    auto bracket = [&](const char* name, const QStringList& args) {
        const QString folder = dir.filePath(name);
        EXPECT_EQ(run(ORRINDALE_MAKE_BRACKET, args + QStringList{"--out", folder}), 0);
        return folder;
    };
    const QString moving = bracket("moving", scene(110, 25));
    const Blended deghosted = throughBatch(moving, {"--deghost"});
    const QRegularExpressionMatch line =
        QRegularExpression(
            "Moving areas: 1, [0-9.]+% of the picture \\(references IMG_000([1-5])\\.tiff\\)")
            .match(deghosted.log);
    ASSERT_TRUE(line.hasMatch()) << deghosted.log.toStdString();
    const QImage areas(moving + "/IMG_0001_Moving.png");
    // The moving set without Deghost (its files again, elsewhere), and the
    // scene with the subject standing where the reference shows it, with
    // noise and without.
    const QString ghosts = dir.filePath("ghosts");
    ASSERT_TRUE(QDir().mkpath(ghosts));
    for (const QString& raw : QDir(moving).entryList({"*.dng"}))
        QFile::copy(moving + "/" + raw, ghosts + "/" + raw);
    const int standing = 110 + 25 * (line.captured(1).toInt() - 1);
    const Blended truth = throughBatch(bracket("truth", scene(standing, 0, false)), {});
    const double noise =
        differenceInAreas(throughBatch(bracket("still", scene(standing, 0)), {}), truth, areas);
    const double deghost = differenceInAreas(deghosted, truth, areas);
    const double ghosted = differenceInAreas(throughBatch(ghosts, {}), truth, areas);
    std::printf("in the moving area: still %.1f, deghosted %.1f, without Deghost %.1f\n", noise,
                deghost, ghosted);
    EXPECT_LT(deghost, 2.5 * noise);
    EXPECT_GT(ghosted, 5 * noise);
}

}  // namespace
