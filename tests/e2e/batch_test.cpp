// orrindale-batch as a user runs it: the real program on generated brackets,
// with the real dcraw, compared with what the window does for the same
// settings.
#include "align/rigid_move.h"
#include "tests/app/window_fixture.h"
#include "support/recording_reporter.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/hdr_readers.h"
#include "tests/common/output_file_checks.h"
#include "tests/common/test_images.h"

#include <ImfStandardAttributes.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

namespace {

struct BatchRun {
    int exitCode = -1;
    QString out, err;
};

// Runs the program with no display of any kind.
BatchRun runBatch(const QStringList& args, const QString& workDir = QString()) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(v);
    env.insert("LC_ALL", "C.UTF-8");
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
    p.start(ORRINDALE_BATCH, args);
    EXPECT_TRUE(p.waitForFinished(300000));
    BatchRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QString withoutTimes(QString text) {
    return text.replace(QRegularExpression("(His|Map|OD|OD_BW|BWTest)_\\d{6}"), "\\1_hhmmss");
}

void makeBracket(const QString& folder, int count = 3) {
    QDir().mkpath(folder);
    QProcess gen;
    gen.start(ORRINDALE_MAKE_BRACKET, {"--count", QString::number(count), "--step", "2", "--width",
                                       "600", "--height", "400", "--out", folder});
    ASSERT_TRUE(gen.waitForFinished(60000));
    ASSERT_EQ(gen.exitCode(), 0);
}

class BatchTest : public WindowTest {
  protected:
    std::shared_ptr<DecoderLauncher> launcherFor() override { return nullptr; }  // the real one
    QStringList files(const QString& folder, const char* pattern) const {
        return QDir(folder).entryList({pattern}, QDir::Files, QDir::Name);
    }
    QTemporaryDir dir{QDir::tempPath() + "/o-XXXXXX"};
};

TEST_F(BatchTest, TheLogIsTheWindowsForTheSameSettings) {
    const QString inWindow = dir.path() + "/window/", inBatch = dir.path() + "/batch/";
    makeBracket(inWindow);
    makeBracket(inBatch);

    // The window: Develop, Calc EV, Build map, Colour, each operation's log
    // as it stands when the operation has ended.
    frmMain& w = *window;
    nextFile = inWindow + "IMG_0002.dng";
    w.cmdSeleccionar->click();
    ASSERT_TRUE(waitFor([&] { return w.estado.ImagenMostrada; }, 60000));
    QStringList blocks;
    auto block = [&] {
        QString t = w.statusText();
        blocks << t.replace("\r\n", "\n");
    };
    w.cmdDevelop->click();
    ASSERT_TRUE(waitFor([&] { return w.cmdEV->isEnabled(); }, 60000)) << w.statusText().toStdString();
    block();
    w.cmdEV->click();
    block();
    w.cmdBuildMap->click();
    block();
    w.cmdBlend->click();
    block();

    const BatchRun r = runBatch({inBatch + "IMG_0002.dng"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    // From the development on (the window shows a preview before it).
    const qsizetype found = r.out.indexOf("3 RAW files found now");
    ASSERT_GT(found, 0);
    const qsizetype start = r.out.lastIndexOf("\n\n", found) + 2;
    QString out = r.out.mid(start);
    const qsizetype summary = out.lastIndexOf("IMG_0002.dng: wrote ");
    ASSERT_GT(summary, 0);
    out.truncate(summary);
    EXPECT_EQ(withoutTimes(out).toStdString(), withoutTimes(blocks.join("\n")).toStdString());

    // The same files, named alike.
    QStringList made = withoutTimes(r.out.mid(summary)).trimmed().split(", ");
    EXPECT_TRUE(made.contains("Map_hhmmss.png"));
    EXPECT_EQ(files(inBatch, "OD_*_sRGB_g2.2.tif").size(), 1);
    EXPECT_EQ(files(inBatch, "Map_??????.png").size(), 1);
    EXPECT_EQ(files(inBatch, "His_*.gif").size(), 1);
    // And the same pixels.
    GflBitmap a, b;
    RecordingReporter rep;
    ASSERT_FALSE(CargarGflBitmap(inWindow + files(inWindow, "OD_*.tif")[0], a, rep));
    ASSERT_FALSE(CargarGflBitmap(inBatch + files(inBatch, "OD_*.tif")[0], b, rep));
    EXPECT_TRUE(a.pixels == b.pixels);
}

TEST_F(BatchTest, OptionsShapeTheFilesAndTheContactSheet) {
    const QString folder = dir.path() + "/set/";
    makeBracket(folder);
    const BatchRun r = runBatch({"--bw", "50", "20", "--ettr", "--brackets", "3", "--step", "2",
                                 "--gamma", "1.0", "--profile", "Adobe RGB", "--contact-sheet",
                                 folder + "IMG_0001.dng"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString() << r.out.toStdString();
    const QStringList out = files(folder, "OD_*.tif");
    ASSERT_EQ(out.size(), 3);
    for (const char* end : {"_AdobeRGB_g1_0EV.tif", "_AdobeRGB_g1_+2EV.tif", "_AdobeRGB_g1_+4EV.tif"})
        EXPECT_EQ(out.filter(QRegularExpression(QString("^OD_BW_\\d{6}") + QRegularExpression::escape(end) + "$")).size(), 1) << end;
    EXPECT_TRUE(r.out.contains("Calculating ETTR correction..."));
    const QStringList sheets = files(folder, "BWTest_*.gif");
    ASSERT_EQ(sheets.size(), 1);
    EXPECT_EQ(QImage(folder + sheets[0]).size(), QSize(11 * 85 + 10, 11 * 57 + 10));

    // The TIFFs already there, with the map just written: no development.
    const QString map = folder + files(folder, "Map_??????.png")[0];
    const BatchRun again = runBatch({"--no-develop", "--map", map, "--no-blend", "--contact-sheet",
                                     folder + "IMG_0001.dng"});
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_FALSE(again.out.contains("Developing"));
    EXPECT_FALSE(again.out.contains("Threshold optimisation"));
    EXPECT_FALSE(again.out.contains("Blending images"));
    EXPECT_TRUE(again.out.contains("Generating B&W contact sheet..."));
}

TEST_F(BatchTest, ASetTooSmallFailsAndTheNextIsStillDone) {
    const QString small = dir.path() + "/small/", good = dir.path() + "/good/";
    makeBracket(small, 1);
    makeBracket(good, 2);
    const BatchRun r = runBatch({"--progressive", "0", small + "IMG_0001.dng", good + "IMG_0001.dng"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(files(small, "OD_*.tif").isEmpty());
    EXPECT_EQ(files(good, "OD_*.tif").size(), 1) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("IMG_0001.dng: wrote "));
    EXPECT_FALSE(r.err.isEmpty());
}

TEST_F(BatchTest, AMapOfAnotherSizeFailsAsTheBlendDoes) {
    const QString folder = dir.path() + "/set/";
    makeBracket(folder, 2);
    QImage other(10, 10, QImage::Format_Grayscale8);
    other.fill(0);
    ASSERT_TRUE(other.save(dir.path() + "/small.png"));
    const BatchRun r = runBatch({"--map", dir.path() + "/small.png", folder + "IMG_0001.dng"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains("Map dimensions mismatch"));
    EXPECT_TRUE(r.err.contains("ERROR: Map dimensions do not match image dimensions"));
    EXPECT_TRUE(files(folder, "OD_*.tif").isEmpty());
}

TEST_F(BatchTest, AlignReportsTheMovesOfAHandheldBracket) {
    const QString folder = dir.path() + "/handheld/";
    QDir().mkpath(folder);
    QProcess gen;
    gen.start(ORRINDALE_MAKE_BRACKET, {"--count", "3", "--step", "2", "--width", "600", "--height",
                                       "400", "--texture", "--shake", "4,0.3", "--out", folder});
    ASSERT_TRUE(gen.waitForFinished(60000));
    ASSERT_EQ(gen.exitCode(), 0);
    const BatchRun r = runBatch({"--align", "--no-blend", folder + "IMG_0001.dng"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Reloading sorted images...\n\nAligning images...\nIMG_0002.tiff: shift "))
        << r.out.toStdString();
    // The true moves beside the frames, against the lines.
    QFile shake(folder + "shake.txt");
    ASSERT_TRUE(shake.open(QIODevice::ReadOnly));
    const QRegularExpression line(
        R"(\n(IMG_\d+)\.tiff: shift ([+-]\d+\.\d\d) ([+-]\d+\.\d\d) px, rotation ([+-]\d+\.\d\d\d) deg\n)");
    int checked = 0;
    for (const QString& entry : QString::fromLatin1(shake.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = entry.split(' ');
        if (f[1].toDouble() == 0 && f[2].toDouble() == 0) continue;  // the least exposed
        const QRegularExpressionMatch m =
            line.match(r.out.mid(r.out.indexOf("\n" + QFileInfo(f[0]).completeBaseName() + ".tiff: shift")));
        ASSERT_TRUE(m.hasMatch()) << f[0].toStdString();
        const RigidMove logged = moveFromDegrees(m.captured(2).toDouble(), m.captured(3).toDouble(),
                                                 m.captured(4).toDouble());
        EXPECT_LT(cornerDistance(logged, moveFromDegrees(f[1].toDouble(), f[2].toDouble(), f[3].toDouble()),
                                 600, 400),
                  0.1)
            << entry.toStdString();
        ++checked;
    }
    EXPECT_EQ(checked, 2);
    EXPECT_TRUE(r.out.contains("IMG_0003.tiff: shift "));
    EXPECT_TRUE(r.out.contains("\n\nCalculating relative exposure...\n"));
}

TEST_F(BatchTest, UsageErrorsStopBeforeAnyWork) {
    const QString folder = dir.path() + "/set/";
    makeBracket(folder, 2);
    for (const QStringList& args : {QStringList{"--threshold", "120", folder + "IMG_0001.dng"},
                                    QStringList{"--what", folder + "IMG_0001.dng"},
                                    QStringList{folder + "IMG_0001.dng", folder + "nope.dng"},
                                    QStringList{}}) {
        const BatchRun r = runBatch(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(" ").toStdString();
        EXPECT_TRUE(r.err.startsWith("orrindale-batch: ")) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_TRUE(files(folder, "*.tiff").isEmpty());
    const BatchRun version = runBatch({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("orrindale-batch "));
}

// A bracket developed by the real dcraw: the EXR's primaries are the
// profile's as published (dcraw's XYZ: the XYZ primaries), the float TIFF
// and the AVIF as their readers expect, all through --format.
TEST_F(BatchTest, HdrOutputsOfARealBracket) {
    const QString raw = dir.path() + "/raw/";
    makeBracket(raw);
    const struct {
        const char *profile, *format;
        double xy[8];  // red, green, blue, white
    } cases[] = {{"sRGB", "exr", {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290}},
                 {"CIE XYZ", "exr-float", {1, 0, 0, 1, 0, 0, 1.0 / 3, 1.0 / 3}},
                 {"sRGB", "tiff-float", {}},
                 {"sRGB", "avif-pq", {}}};
    for (const auto& c : cases) {
        const QString out = dir.path() + "/" + c.format + "/";
        const BatchRun r = runBatch({"--format", c.format, "--profile", c.profile, "--stable-names",
                                     "--out", out, raw + "IMG_0001.dng"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QString file = out + "IMG_0001/" + files(out + "IMG_0001/", "IMG_0001_OD_*").value(0);
        EXPECT_TRUE(r.out.contains("Saving image as " + QFileInfo(file).fileName() + "\n"))
            << c.format;
        if (QString(c.format).startsWith("exr")) {
            const Imf::Chromaticities got = Imf::chromaticities(readExrHeader(file));
            const Imath::V2f xy[4] = {got.red, got.green, got.blue, got.white};
            for (int k = 0; k < 8; ++k)
                EXPECT_NEAR(xy[k / 2][k % 2], c.xy[k], 2e-4) << c.profile << k;
        } else if (QString(c.format) == "tiff-float") {
            const LcmsProfile profile = openProfile(iccOfTiff(file));  // linear, as the values
            ASSERT_TRUE(profile);
            EXPECT_NEAR(curveAt(profile.get(), cmsSigGreenTRCTag, 0.5), 0.5, 1e-4);
            EXPECT_FALSE(readFloatTiffPixels(file).empty());
        } else {
            const DecodedAvif d = decodeAvif(file);
            EXPECT_EQ(d.cicp, (std::array{9, 16, 9}));
            EXPECT_TRUE(d.ok && !d.exif.isEmpty() && contentLightLevel(file));
        }
    }
}

}  // namespace
