// The headless full development with the real dcraw on small generated sets:
// its TIFFs are byte for byte those of one dcraw process over the whole set.
#include "pipeline/full_development.h"

#include "pipeline/image_set.h"
#include "support/recording_reporter.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>

namespace {

class RealDcrawDevelopmentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(RutaDCRAW)) << "dcraw is not installed";
        presetWB(2, settings.txtWB);
    }
    // `count` 600 x 400 frames, 2 EV apart, IMG_0001 the darkest.
    QStringList makeBracket(int count) {
        QProcess gen;
        gen.start(ORRINDALE_MAKE_BRACKET,
                  {"--count", QString::number(count), "--step", "2", "--width", "600", "--height",
                   "400", "--out", dir.path()});
        EXPECT_TRUE(gen.waitForFinished(60000));
        EXPECT_EQ(gen.exitCode(), 0) << gen.readAllStandardError().toStdString();
        return QDir(dir.path()).entryList({"*.dng"}, QDir::Files, QDir::Name);
    }
    // dcraw run once, as the single-process development ran it, then its
    // TIFFs moved into ref/.
    void developInOneProcess(const QStringList& names, const QStringList& extra = {}) {
        QStringList args = dcrawArguments(ConstruirComandoDCRAW(settings, false, false)) + extra;
        for (const QString& n : names) args << dir.filePath(n);
        QProcess dcraw;
        dcraw.setStandardErrorFile(QProcess::nullDevice());
        dcraw.start(RutaDCRAW, args);
        ASSERT_TRUE(dcraw.waitForFinished(60000));
        ASSERT_EQ(dcraw.exitCode(), 0);
        QDir(dir.path()).mkpath("ref");
        for (const QString& n : names) {
            const QString tiff = tiffDeRaw(n);
            ASSERT_TRUE(QFile::rename(dir.filePath(tiff), dir.filePath("ref/" + tiff))) << tiff.toStdString();
        }
    }
    FullDevelopmentJob job(const QStringList& names, bool hl) const {
        FullDevelopmentJob j;
        j.rutaReferencia = dir.filePath(names.first());
        j.archivosRAW = names;
        j.settings = settings;
        j.hlRecovery = hl;
        return j;
    }
    void expectSameBytes(const QString& name) {
        const QString tiff = tiffDeRaw(name);
        const QByteArray ours = readBytes(dir.filePath(tiff));
        ASSERT_GT(ours.size(), 600 * 400 * 6) << tiff.toStdString();
        EXPECT_TRUE(ours == readBytes(dir.filePath("ref/" + tiff))) << tiff.toStdString();
    }

    QTemporaryDir dir;
    DevelopSettings settings;
    DetachedLauncher launcher;
    RecordingReporter reporter;
    ImageSet set;
};

TEST_F(RealDcrawDevelopmentTest, TiffsAreThoseOfOneProcessOverTheSet) {
    const QStringList names = makeBracket(4);
    ASSERT_EQ(names.size(), 4);
    developInOneProcess(names);

    FullDevelopmentOptions options;
    options.maxProcesses = 2;
    FullDevelopment development(launcher, reporter, set, options);
    ASSERT_EQ(developToEnd(development, job(names, false), 50), DevelopmentStatus::Complete)
        << reporter.log.toStdString();
    EXPECT_EQ(reporter.logLines(),
              (QStringList{"4 RAW files selected in path", "4 RAW files found now", "",
                           "Developing 4 RAW files...", "PLEASE WAIT", "DONE"}));
    EXPECT_TRUE(reporter.boxes.empty());
    for (const QString& n : names) expectSameBytes(n);

    // dcraw's own lines, each under the file it is about.
    const QStringList lines = development.messages().readNew(true);
    for (const QString& n : names)
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const QString& l) {
            return l.startsWith(n + ": ") && l.contains("Writing data to");
        })) << n.toStdString();
}

TEST_F(RealDcrawDevelopmentTest, HighlightRecoveryRedevelopsTheDarkestWithoutAWindow) {
    const QStringList names = makeBracket(3);
    developInOneProcess({names.first()}, {"-H", "2"});

    FullDevelopment development(launcher, reporter, set);
    ASSERT_EQ(developToEnd(development, job(names, true), 50), DevelopmentStatus::Complete)
        << reporter.log.toStdString();
    EXPECT_EQ(reporter.pauses, std::vector<int>{4000});
    EXPECT_TRUE(reporter.logLines().contains("Highlight recovery on IMG_0001.dng..."));
    EXPECT_EQ(reporter.logLines().back(), "DONE");
    EXPECT_EQ(set.TIFFMenosExpuesto, dir.filePath("IMG_0001.tiff"));
    EXPECT_FALSE(set.TIFFsCargados);
    expectSameBytes(names.first());
}

}  // namespace
