// A day of use: Calc EV, Build map, Colour, B&W and "T" twenty times over on a
// set on disk, through the real window. Memory comes back to its level after
// the first round, and no file handle or temporary file stays behind.
#include "tests/app/window_fixture.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/process_usage.h"

#include <malloc.h>
#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kRounds = 20;

class DayOfUseTest : public WindowTest {
  protected:
    void SetUp() override {
        // The program's own temporary files would land here: a folder of the
        // test's, so other processes' files cannot be mistaken for ours.
        savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        WindowTest::SetUp();
        folder = dir.path() + "/";
        // Frames large enough that keeping any of a round's images would show
        // (one frame is 720 KB, the blend's planes 2.9 MB).
        window->ArchivosRAW = writeBracketSet(folder, 3, 400, 300, 31);
        window->txtRuta->setText(folder + "IMG_1.CR2");
        window->estado.ImagenMostrada = true;
        window->cmdEV->setEnabled(true);
    }
    void TearDown() override {
        WindowTest::TearDown();
        if (savedTmp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", savedTmp);
    }

    // Memory in use once the allocator has handed back what it only caches.
    static long long residentNow() {
        malloc_trim(0);
        return procStatusBytes("VmRSS");
    }

    // One round as a user clicks it; false (with the reason) when a step
    // did not end as it should.
    ::testing::AssertionResult round() {
        frmMain& w = *window;
        const std::pair<QPushButton*, const char*> steps[] = {{w.cmdEV, "Calc EV"},
                                                              {w.cmdBuildMap, "Build map"},
                                                              {w.cmdBlend, "Colour"},
                                                              {w.cmdBlendBW, "B&W"},
                                                              {w.cmdTestBW, "T"}};
        for (const auto& [button, name] : steps) {
            if (!button->isEnabled())
                return ::testing::AssertionFailure() << name << " is disabled";
            button->click();
            if (!boxes.empty())
                return ::testing::AssertionFailure() << name << ": " << boxes[0].text.toStdString();
            if (logLines().value(logLines().size() - 1) != "DONE")
                return ::testing::AssertionFailure()
                       << name << ": " << w.statusText().toStdString();
        }
        return ::testing::AssertionSuccess();
    }

    // The round's files are the program's outputs and nothing else: no
    // .part file, no save that was never renamed. They go, as a user would
    // move them away, so that the folder stays as small as the first day.
    ::testing::AssertionResult onlyOutputsThenClear() {
        const QRegularExpression output(
            "^(IMG_\\d\\.tiff|His_\\d{6}\\.gif|Map_\\d{6}\\.png|Map_\\d{6}_PB\\.png|"
            "OD_(BW_)?\\d{6}_.*\\.tif|BWTest_\\d{6}\\.gif)$");
        QStringList written;
        for (const QString& name :
             QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            if (!output.match(name).hasMatch())
                return ::testing::AssertionFailure()
                       << "left in the set's folder: " << name.toStdString();
            if (!name.startsWith("IMG_")) written << name;
        }
        if (written.size() < 6)
            return ::testing::AssertionFailure()
                   << "missing outputs: " << written.join(" ").toStdString();
        for (const QString& name : written) QFile::remove(folder + name);
        const QStringList temporary =
            QDir(tmp.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        if (!temporary.isEmpty())
            return ::testing::AssertionFailure()
                   << "left in the temporary folder: " << temporary.join(" ").toStdString();
        return ::testing::AssertionSuccess();
    }

    QTemporaryDir dir;
    QTemporaryDir tmp;
    QByteArray savedTmp;
    QString folder;
};

TEST_F(DayOfUseTest, TwentyRoundsLeaveNoMemoryHandlesOrFilesBehind) {
    ASSERT_GT(procStatusBytes("VmRSS"), 0) << "no /proc/self/status";
    ASSERT_GT(openDescriptors(), 0) << "no /proc/self/fd";
    ASSERT_TRUE(round());
    ASSERT_TRUE(onlyOutputsThenClear());
    // The first round sets up what stays for the run (fonts, plugins, the
    // loaded set and its map table): its level is the reference.
    const long long reference = residentNow();
    const int descriptors = openDescriptors();
    std::vector<long long> levels;
    for (int r = 2; r <= kRounds; ++r) {
        SCOPED_TRACE(r);
        ASSERT_TRUE(round());
        ASSERT_TRUE(onlyOutputsThenClear());
        EXPECT_EQ(openDescriptors(), descriptors);
        levels.push_back(residentNow());
    }
    // Keeping one round's images would add at least 720 KB a round, 13 MB by
    // the last; the allocator's and Qt's caches settle within a few rounds
    // and then move by about a megabyte either way.
    const long long highest = *std::max_element(levels.begin(), levels.end());
    EXPECT_LT(highest - reference, 4LL << 20)
        << "reference " << reference << ", highest " << highest;
    // Nor does the level creep: the later rounds peak no higher than the earlier.
    const auto middle = levels.begin() + static_cast<long>(levels.size() / 2);
    const long long early = *std::max_element(levels.begin(), middle);
    const long long late = *std::max_element(middle, levels.end());
    EXPECT_LT(late - early, 1LL << 20) << "early rounds " << early << ", late rounds " << late;
    // Still the working window of the first round.
    EXPECT_TRUE(window->imagenes.usable());
    EXPECT_TRUE(window->cmdBlend->isEnabled());
    EXPECT_FALSE(window->busy());
}

}  // namespace
