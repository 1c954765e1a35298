// Deghost on brackets the generator makes with a moving subject, developed by
// the real dcraw: through the window, and through orrindale-batch against
// the same scene with the subject standing still.
#include "support/recording_reporter.h"
#include "tests/app/window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <cmath>

namespace {

// 5 frames of 600 x 400, 2 EV apart; the subject crosses the horizon (sky
// over dark ground) 25 pixels a frame.
const QStringList kScene{"--width", "600", "--height", "400"};
QString mover(int x, int y, int dx, int dy) {
    return QString("%1,%2,60,60,%3,%4").arg(x).arg(y).arg(dx).arg(dy);
}

int run(const QString& program, const QStringList& args, QString* out = nullptr) {
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(300000)) << program.toStdString();
    if (out) *out = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A bracket in `folder`, put through the batch at gamma 1.0 with stable
// names; returns its log.
QString bracketThroughBatch(const QString& folder, const QStringList& generator,
                            const QStringList& batch) {
    EXPECT_EQ(run(ORRINDALE_MAKE_BRACKET, kScene + generator + QStringList{"--out", folder}), 0);
    QString log;
    EXPECT_EQ(run(ORRINDALE_BATCH,
                  batch + QStringList{"--gamma", "1.0", "--stable-names", folder + "/IMG_0001.dng"},
                  &log),
              0)
        << log.toStdString();
    return log;
}

GflBitmap output(const QString& folder) {
    RecordingReporter rep;
    GflBitmap image;
    EXPECT_FALSE(CargarGflBitmap(folder + "/IMG_0001_OD_sRGB_g1.tif", image, rep))
        << folder.toStdString();
    return image;
}

// Root mean square difference of the green channel where `areas` is tinted.
double differenceInAreas(const GflBitmap& a, const GflBitmap& b, const QImage& areas) {
    double sum = 0;
    long count = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const QRgb c = areas.pixel(x, y);
            if (qRed(c) == qGreen(c)) continue;
            const double d = a.row(y)[x * 3 + 1] - b.row(y)[x * 3 + 1];
            sum += d * d;
            ++count;
        }
    EXPECT_GT(count, 60 * 60);
    return std::sqrt(sum / std::max(count, 1L));
}

class DeghostEndToEnd : public WindowTest {
  protected:
    std::shared_ptr<DecoderLauncher> launcherFor() override { return nullptr; }  // the real one
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(RutaDCRAW)) << "dcraw is not installed";
        WindowTest::SetUp();
    }
    QString path(const char* name) const { return dir.path() + "/" + name; }
    QTemporaryDir dir{QDir::tempPath() + "/o-XXXXXX"};
};

TEST_F(DeghostEndToEnd, TheWindowShowsTheSubjectOnce) {
    const QString folder = path("window");
    ASSERT_EQ(run(ORRINDALE_MAKE_BRACKET,
                  kScene + QStringList{"--mover", mover(270, 110, 0, 25), "--out", folder}),
              0);
    frmMain& w = *window;
    nextFile = folder + "/IMG_0003.dng";
    w.cmdSeleccionar->click();
    ASSERT_TRUE(waitFor([&] { return w.estado.ImagenMostrada; }, 60000));
    w.cmdDevelop->click();
    ASSERT_TRUE(waitFor([&] { return w.cmdEV->isEnabled(); }, 60000))
        << w.statusText().toStdString();
    w.cmdEV->click();
    w.chkDeghost->click();
    w.cmdBuildMap->click();
    const QStringList moving = logLines().filter(QRegularExpression("^Moving areas: "));
    ASSERT_EQ(moving.size(), 1) << w.statusText().toStdString();
    EXPECT_TRUE(moving[0].startsWith("Moving areas: 1, ")) << moving[0].toStdString();
    const QStringList pictures = QDir(folder).entryList({"Moving_*.png"});
    ASSERT_EQ(pictures.size(), 1);
    EXPECT_EQ(w.pctImagen->caption(), "Moving areas: " + pictures[0]);
    w.cmdBlend->click();
    EXPECT_EQ(logLines().back(), "DONE");
    EXPECT_EQ(QDir(folder).entryList({"OD_*.tif"}).size(), 1);
}

TEST_F(DeghostEndToEnd, InItsAreaTheOutputIsAStillSetsWithinTheNoise) {
    const QString log =
        bracketThroughBatch(path("moving"), {"--mover", mover(270, 110, 0, 25)}, {"--deghost"});
    const QRegularExpressionMatch line =
        QRegularExpression(
            "Moving areas: 1, [0-9.]+% of the picture \\(references IMG_000([1-5])\\.tiff\\)")
            .match(log);
    ASSERT_TRUE(line.hasMatch()) << log.toStdString();
    const int r = line.captured(1).toInt();
    const QImage areas(path("moving") + "/IMG_0001_Moving.png");
    // The same scene with the subject standing where the reference shows it,
    // with noise and without; the moving set without Deghost.
    const QStringList standing{"--mover", mover(270, 110 + 25 * (r - 1), 0, 0)};
    bracketThroughBatch(path("still"), standing, {});
    bracketThroughBatch(path("truth"), standing + QStringList{"--no-noise"}, {});
    ASSERT_TRUE(QDir().mkpath(path("ghosts")));
    for (const QString& raw : QDir(path("moving")).entryList({"*.dng"}))
        QFile::copy(path("moving") + "/" + raw, path("ghosts") + "/" + raw);
    QString ghostLog;
    ASSERT_EQ(
        run(ORRINDALE_BATCH, {"--gamma", "1.0", "--stable-names", path("ghosts") + "/IMG_0001.dng"},
            &ghostLog),
        0);

    const GflBitmap truth = output(path("truth"));
    const double noise = differenceInAreas(output(path("still")), truth, areas);
    const double deghosted = differenceInAreas(output(path("moving")), truth, areas);
    const double ghosted = differenceInAreas(output(path("ghosts")), truth, areas);
    RecordProperty("noise", std::to_string(noise));
    RecordProperty("deghosted", std::to_string(deghosted));
    RecordProperty("ghosted", std::to_string(ghosted));
    std::printf("in the moving area: still %.1f, deghosted %.1f, without Deghost %.1f\n", noise,
                deghosted, ghosted);
    EXPECT_LT(deghosted, 2.5 * noise);
    EXPECT_GT(ghosted, 5 * noise);

    // A reference the set does not have: a usage error for a set given, the
    // set's failure for one listed.
    QString out;
    EXPECT_EQ(run(ORRINDALE_BATCH, {"--deghost-ref", "6", path("moving") + "/IMG_0001.dng"}, &out),
              2);
    EXPECT_TRUE(out.contains("--deghost-ref 6: the set of IMG_0001.dng has 5 images"))
        << out.toStdString();
    QFile list(path("list.txt"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write((path("moving") + "/IMG_0001.dng\n").toLocal8Bit());
    list.close();
    EXPECT_EQ(run(ORRINDALE_BATCH,
                  {"--deghost-ref", "6", "--no-develop", "--sets-from", path("list.txt")}, &out),
              1);
    EXPECT_TRUE(out.contains("The deghosting reference, image 6, is not in this set of 5 images"))
        << out.toStdString();
}

}  // namespace
