// Saves that fail half-way, with a file-size limit in a child process standing
// in for a full disk: nothing truncated under the final name, an older file of
// that name kept, the failure reported as each procedure reports it, and the
// same process writing the file whole once the limit is lifted.
#include "blend/blend.h"
#include "pipeline/blend_stage.h"
#include "pipeline/calc_ev.h"
#include "maps/maps.h"
#include "pipeline/map_stage.h"
#include "support/gfl_bitmap.h"
#include "support/numbers.h"
#include "support/recording_reporter.h"
#include "tests/common/child_checks.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTime>
#include <cmath>
#include <functional>
#include <map>

namespace {

constexpr bool kAverage = true;
constexpr bool kMedian = false;

class FailedWriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = dir.path() + "/";
        raws = writeBracketSet(folder, 3, 64, 48, 11);
        // Loaded, sorted and measured as "Calc EV" leaves it; Average writes no file.
        RecordingReporter rep;
        ASSERT_EQ(calcularEV(ref(), raws, kAverage, set, rep), 1) << rep.log.toStdString();
    }

    QString ref() const { return folder + "IMG_1.CR2"; }
    QString mapPath() {
        if (map.isEmpty()) {
            RecordingReporter rep;
            map = GenerarMapa(ref(), MapSettings{}, set, rep);
        }
        return map;
    }
    QStringList entries() const {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    // Files of the names the next minute and a half of saves would take, with
    // content of their own, standing for the user's older files.
    void writeOlderFiles(const std::function<QString(const QString& hhmmss)>& name) {
        const QTime now = QTime::currentTime();
        for (int s = -1; s < 90; ++s) {
            const QString path = folder + name(timeStampHHMMSS(now.addSecs(s)));
            older[path] = "an older file: " + path.toUtf8();
            writeBytes(path, older[path]);
        }
    }
    void writeOlderFile(const QString& path) {
        older[path] = "an older file: " + path.toUtf8();
        writeBytes(path, older[path]);
    }

    // Size of the file `run` writes when nothing stops it; the file goes again.
    qint64 wholeSize(const std::function<void(HistoryReporter&)>& run, const QString& pattern) {
        const QStringList before = entries();
        HistoryReporter rep;
        run(rep);
        qint64 size = -1;
        for (const QString& name : entries())
            if (!before.contains(name) && QRegularExpression(pattern).match(name).hasMatch()) {
                size = QFileInfo(folder + name).size();
                QFile::remove(folder + name);
            }
        return size;
    }

    // Runs `body` in a child whose writes stop at `limit` bytes per file and
    // reports what it found wrong as test failures.
    static void inChild(long long limit, const std::function<void(Findings&)>& body) {
        const QString found = checkInChild(ChildLimits{false, limit, -1}, body);
        EXPECT_TRUE(found.isEmpty()) << found.toStdString();
    }

    // Everything in the folder is as it was: no file under a final name, no
    // temporary file, every older file unchanged.
    void checkUntouched(Findings& f, const QStringList& before) const {
        f.check(entries() == before, "the folder changed: " + entries().join(", "));
        for (const auto& [path, bytes] : older)
            f.check(readBytes(path) == bytes, "an older file was replaced: " + path);
    }

    QTemporaryDir dir;
    QString folder;
    QStringList raws;
    ImageSet set;
    QString map;
    std::map<QString, QByteArray> older;
};

TEST_F(FailedWriteTest, BuildMapKeepsTheOlderMapAndReportsTheFailure) {
    auto build = [&](HistoryReporter& rep) { return GenerarMapa(ref(), MapSettings{}, set, rep); };
    const qint64 whole = wholeSize([&](HistoryReporter& rep) { build(rep); }, "^Map_\\d{6}\\.png$");
    ASSERT_GT(whole, 64);
    writeOlderFiles([](const QString& t) { return "Map_" + t + ".png"; });
    const QStringList before = entries();
    inChild(whole / 2, [&](Findings& f) {
        HistoryReporter rep;
        f.check(build(rep).isEmpty(), "the build reported success");
        const QString name = rep.find("Saving PNG map as (Map_\\d{6}\\.png)");
        f.check(older.count(folder + name) == 1,
                "the save was not tried under an older name: " + name);
        f.check(rep.boxes.size() == 1 && rep.boxesMentioning("module GenerarMapa ") == 1,
                "not one unexpected-error report naming GenerarMapa");
        f.check(rep.logLines() == QStringList{"An unexpected error occurred"}, "log: " + rep.log);
        f.check(rep.beeps == 0, "a failed build beeped");
        checkUntouched(f, before);

        liftChildLimits();
        HistoryReporter again;
        const QString path = build(again);
        f.check(!path.isEmpty() && again.boxes.empty(), "the second build failed: " + again.log);
        f.check(QImage(path).size() == QSize(64, 48), "the second map is not whole");
    });
}

TEST_F(FailedWriteTest, CalcEvKeepsTheOlderHistogramAndReportsTheFailure) {
    auto measure = [&](HistoryReporter& rep) {
        return CalcularExpRelativas(ref(), kMedian, set, rep);
    };
    const qint64 whole =
        wholeSize([&](HistoryReporter& rep) { measure(rep); }, "^His_\\d{6}\\.gif$");
    ASSERT_GT(whole, 64);
    writeOlderFiles([](const QString& t) { return "His_" + t + ".gif"; });
    const QStringList before = entries();
    inChild(whole / 2, [&](Findings& f) {
        HistoryReporter rep;
        f.check(measure(rep) == -1, "the measurement reported success");
        const QString name = rep.find("Saving exposure histogram as (His_\\d{6}\\.gif)");
        f.check(older.count(folder + name) == 1,
                "the save was not tried under an older name: " + name);
        f.check(rep.boxes.size() == 1 && rep.boxesMentioning("module CalcularExpRelativas ") == 1,
                "not one unexpected-error report naming CalcularExpRelativas");
        f.check(rep.logLines() == QStringList{"An unexpected error occurred"}, "log: " + rep.log);
        checkUntouched(f, before);
        // The set is still loaded and measured: "Build map" may follow.
        f.check(set.usable() && set.ExpRelativas.size() == 3, "the set was lost");

        liftChildLimits();
        HistoryReporter again;
        f.check(measure(again) == 1 && again.boxes.empty(), "the second run failed: " + again.log);
        const QString written = again.find("Saving exposure histogram as (His_\\d{6}\\.gif)");
        f.check(QImage(folder + written).size() == QSize(1024, 256),
                "the second histogram is not whole");
    });
}

TEST_F(FailedWriteTest, ContactSheetKeepsTheOlderSheetAndReportsTheFailure) {
    const QString mapFile = mapPath();
    ASSERT_FALSE(mapFile.isEmpty());
    auto sheet = [&](HistoryReporter& rep) { return TestImagenesBN(ref(), mapFile, set, rep); };
    const qint64 whole =
        wholeSize([&](HistoryReporter& rep) { sheet(rep); }, "^BWTest_\\d{6}\\.gif$");
    ASSERT_GT(whole, 64);
    writeOlderFiles([](const QString& t) { return "BWTest_" + t + ".gif"; });
    const QStringList before = entries();
    inChild(whole / 2, [&](Findings& f) {
        HistoryReporter rep;
        f.check(sheet(rep) == -1, "the contact sheet reported success");
        const QString name = rep.find("Saving B&W samples as (BWTest_\\d{6}\\.gif)");
        f.check(older.count(folder + name) == 1,
                "the save was not tried under an older name: " + name);
        f.check(rep.boxes.size() == 1 && rep.boxesMentioning("module TestImagenesBN ") == 1,
                "not one unexpected-error report naming TestImagenesBN");
        checkUntouched(f, before);

        liftChildLimits();
        HistoryReporter again;
        f.check(sheet(again) == 1 && again.boxes.empty(), "the second sheet failed: " + again.log);
        const QString written = again.find("Saving B&W samples as (BWTest_\\d{6}\\.gif)");
        // 64 x 48 decimated by 7: 9 x 6 tiles of 11 x 11 with 1-pixel gaps.
        f.check(QImage(folder + written).size() == QSize(11 * 9 + 10, 11 * 6 + 10),
                "the second sheet is not whole");
    });
}

TEST_F(FailedWriteTest, BlendKeepsTheOlderProgressiveMapAndStops) {
    const QString mapFile = mapPath();
    ASSERT_FALSE(mapFile.isEmpty());
    BlendSettings s;
    s.perfil = "sRGB";
    s.rutaMapa = mapFile;
    auto blend = [&](HistoryReporter& rep) { return FusionarImagenes(ref(), s, set, rep); };
    const QString pb = QFileInfo(mapFile).completeBaseName() + "_PB.png";
    const qint64 whole = wholeSize([&](HistoryReporter& rep) { blend(rep); }, "_PB\\.png$");
    ASSERT_GT(whole, 64);
    // The outputs of that run go too: only the progressive map is at stake here.
    for (const QString& name : QDir(folder).entryList({"OD_*.tif"})) QFile::remove(folder + name);
    writeOlderFile(folder + pb);
    const QStringList before = entries();
    inChild(whole / 2, [&](Findings& f) {
        HistoryReporter rep;
        f.check(blend(rep) == -1, "the blend reported success");
        f.check(rep.find("Saving PNG progressive map as (.*_PB\\.png)") == pb,
                "the progressive map was not saved under its name");
        f.check(rep.boxes.size() == 1 && rep.boxesMentioning("module FusionarImagenes ") == 1,
                "not one unexpected-error report naming FusionarImagenes");
        f.check(rep.find("^(Blending images...)$").isEmpty(),
                "the blend went on after the failure");
        checkUntouched(f, before);

        liftChildLimits();
        HistoryReporter again;
        f.check(blend(again) == 1 && again.boxes.empty(), "the second blend failed: " + again.log);
        f.check(QImage(folder + pb).size() == QSize(64, 48),
                "the second progressive map is not whole");
    });
}

TEST_F(FailedWriteTest, BlendOutputsKeepTheOlderFilesAndTheStageGoesOn) {
    const QString mapFile = mapPath();
    ASSERT_FALSE(mapFile.isEmpty());
    BlendSettings s;
    s.perfil = "sRGB";
    s.rutaMapa = mapFile;
    s.numBracketing = 2;
    auto blend = [&](HistoryReporter& rep) { return FusionarImagenes(ref(), s, set, rep); };
    const qint64 whole = wholeSize([&](HistoryReporter& rep) { blend(rep); }, "_0EV\\.tif$");
    for (const QString& name : QDir(folder).entryList({"OD_*.tif"})) QFile::remove(folder + name);
    const qint64 progressive = QFileInfo(QFileInfo(mapFile).path() + "/" +
                                         QFileInfo(mapFile).completeBaseName() + "_PB.png")
                                   .size();
    // Room for the progressive map, not for an output file.
    ASSERT_GT(whole / 2, progressive);
    const float g = inverseGamma(s.gamma);
    for (const char* suffix : {"_0EV.tif", "_+2EV.tif"})
        writeOlderFiles(
            [&](const QString& t) { return outputBaseName(false, t, s.perfil, g) + suffix; });
    const QStringList before = entries();
    inChild(whole / 2, [&](Findings& f) {
        HistoryReporter rep;
        // A failed output is told by the save and the stage goes on.
        f.check(blend(rep) == 1, "the blend did not run to its end");
        f.check(rep.logLines().value(rep.logLines().size() - 1) == "DONE", "no DONE: " + rep.log);
        f.check(rep.boxes.size() == 2 && rep.boxesMentioning("gflSaveBitmap [") == 2,
                "not one save failure per bracket");
        f.check(rep.beeps == 1, "the finished stage did not beep");
        const QString first = rep.find("Saving image as (OD_.*_0EV\\.tif)");
        f.check(older.count(folder + first) == 1,
                "the save was not tried under an older name: " + first);
        checkUntouched(f, before);

        liftChildLimits();
        HistoryReporter again;
        f.check(blend(again) == 1 && again.boxes.empty(), "the second blend failed: " + again.log);
        for (const char* pattern :
             {"Saving image as (OD_.*_0EV\\.tif)", "Saving image as (OD_.*_\\+2EV\\.tif)"}) {
            GflBitmap out;
            RecordingReporter quiet;
            const QString name = again.find(pattern);
            f.check(
                !CargarGflBitmap(folder + name, out, quiet) && out.width == 64 && out.height == 48,
                "an output of the second blend is not whole: " + name);
        }
        f.check(entries().filter(QRegularExpression("\\.part$")).isEmpty(),
                "a .part file was left");
    });
}

}  // namespace
