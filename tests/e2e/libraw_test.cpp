// LibRaw's dcraw_emu as the decoder, for real, on generated DNG sets: the
// development is dcraw_emu run by hand, and the window and orrindale-batch
// take a set from RAW files to a blended TIFF with it.
#include "pipeline/full_development.h"
#include "support/recording_reporter.h"
#include "tests/app/window_fixture.h"
#include "tests/common/test_images.h"

#include <QDir>
#include <QProcess>

namespace {

// `count` 600 x 400 frames, 2 EV apart, named <prefix>0001.dng ...
QStringList makeBracket(const QString& folder, int count, const QString& prefix = "IMG_") {
    QDir().mkpath(folder);
    EXPECT_EQ(QProcess::execute(ORRINDALE_MAKE_BRACKET,
                                {"--count", QString::number(count), "--width", "600", "--height",
                                 "400", "--prefix", prefix, "--out", folder}),
              0);
    return QDir(folder).entryList({"*.dng"}, QDir::Files, QDir::Name);
}

class LibRawTest : public WindowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(RutaLibRaw)) << "dcraw_emu (libraw-bin) is not installed";
        WindowTest::SetUp();
    }
    std::shared_ptr<DecoderLauncher> launcherFor() override { return nullptr; }  // the real one
    int maxDecoders() const override { return 0; }
    // A dcraw of 2018 that knows none of the set's cameras.
    QString decoderPath() const override {
        const QString path = scripts.filePath("dcraw");
        writeBytes(path, "#!/bin/sh\n[ \"$1\" = -i ] && { echo \"Cannot decode file $2\" >&2; exit 1; }\n"
                         "exec /usr/bin/dcraw \"$@\"\n");
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
        return path;
    }
    QTemporaryDir scripts;
    QTemporaryDir dir{QDir::tempPath() + "/o-XXXXXX"};
};

// Folder and file names with several dots: "-Z tiff" replaces only the last
// extension of the name, as dcraw does. A file dcraw_emu cannot read ends
// its run with status 0 and no TIFF: its own line tells why.
TEST_F(LibRawTest, TheDevelopmentIsDcrawEmuRunByHand) {
    const QString folder = dir.path() + "/set.v1.2/", byHand = dir.path() + "/by.hand/";
    QStringList names = makeBracket(folder, 2, "IMG.x.");
    makeBracket(byHand, 2, "IMG.x.");
    writeBytes(folder + "IMG.x.0003.dng", "this is a text file, not a photograph\n");
    FullDevelopmentJob job;
    presetWB(2, job.settings.txtWB);
    for (const QString& n : names) {
        QProcess emu;
        emu.setStandardOutputFile(QProcess::nullDevice());
        emu.start(RutaLibRaw, opcionesDCRAW(job.settings, false, false) << "-Z" << "tiff" << byHand + n);
        ASSERT_TRUE(emu.waitForFinished(60000));
    }

    DetachedLauncher launcher;
    RecordingReporter reporter;
    ImageSet set;
    FullDevelopment development(launcher, reporter, set);
    job.rutaReferencia = folder + names.first();
    job.archivosRAW = names << "IMG.x.0003.dng";
    job.decoder = DecoderSetting::LibRaw;
    ASSERT_EQ(developToEnd(development, job, 50), DevelopmentStatus::Complete);
    EXPECT_TRUE(reporter.logLines().contains("Developing with LibRaw"));
    for (const QString tiff : {"IMG.x.0001.tiff", "IMG.x.0002.tiff"}) {
        GflBitmap ours, theirs;
        ASSERT_FALSE(CargarGflBitmap(folder + tiff, ours, reporter)) << tiff.toStdString();
        ASSERT_FALSE(CargarGflBitmap(byHand + tiff, theirs, reporter));
        EXPECT_EQ(ours.width, 600);
        EXPECT_TRUE(ours.pixels == theirs.pixels) << tiff.toStdString();
    }
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_TRUE(reporter.boxes[0].text.startsWith("LibRaw could not develop IMG.x.0003.dng\r\nCannot open " +
                                                  folder + "IMG.x.0003.dng: "))
        << reporter.boxes[0].text.toStdString();
    // dcraw_emu's progress, printed on standard output, reaches the messages.
    EXPECT_TRUE(development.messages().readNew(true).contains("IMG.x.0002.dng: Writing file " +
                                                              folder + "IMG.x.0002.tiff"));
}

TEST_F(LibRawTest, AutomaticTurnsToLibRawFromPreviewToBlend) {
    makeBracket(dir.path(), 3);
    frmMain& w = *window;
    nextFile = dir.path() + "/IMG_0002.dng";
    w.cmdSeleccionar->click();
    ASSERT_TRUE(waitFor([&] { return w.estado.ImagenMostrada; }, 60000)) << w.statusText().toStdString();
    EXPECT_EQ(logLines().mid(0, 2), (QStringList{"Quick developing IMG_0002.dng...",
                                                 "dcraw cannot read IMG_0001.dng: developing with LibRaw"}));
    EXPECT_TRUE(w.lblDCRAW->text().startsWith(RutaLibRaw + " -v -4 -T -r 2.132483"));
    EXPECT_TRUE(w.lblDCRAW->text().endsWith("-t 0 -h -Z tiff"));
    w.cmdDevelop->click();
    ASSERT_TRUE(waitFor([&] { return w.cmdEV->isEnabled(); }, 60000)) << w.statusText().toStdString();
    w.cmdEV->click();
    w.cmdBuildMap->click();
    w.cmdBlend->click();
    EXPECT_EQ(QDir(dir.path()).entryList({"OD_*.tif"}).size(), 1) << w.statusText().toStdString();
    EXPECT_NEAR(w.imagenes.ExpRelativas[1], 0.25, 0.25 * 0.02);  // 2 EV brighter
}

TEST_F(LibRawTest, TheBatchProgramBlendsWithLibRaw) {
    makeBracket(dir.path(), 3);
    QProcess batch;
    batch.start(ORRINDALE_BATCH, {"--decoder", "libraw", dir.path() + "/IMG_0001.dng"});
    ASSERT_TRUE(batch.waitForFinished(300000));
    const QString out = QString::fromLocal8Bit(batch.readAllStandardOutput());
    EXPECT_EQ(batch.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("3 RAW files found now\nDeveloping with LibRaw\n")) << out.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList({"OD_*.tif"}).size(), 1);
}

}  // namespace
