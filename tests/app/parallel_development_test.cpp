// "Develop" with one dcraw process per file through the window: two at a
// time, a file that fails among good ones, the busy guard, the DCRAW message
// window and leaving while files wait.
#include "app/busy_scope.h"
#include "pipeline/full_development.h"
#include "tests/app/development_fixture.h"

#include <optional>

namespace {

class ParallelDevelopmentTest : public DevelopmentTest {
  protected:
    // A set of `count` files p1.dng ..., the preview of p1 on display, and the
    // fake decoder ready to play each later run for `durationMs`.
    QString readySet(int count, int durationMs) {
        QStringList names;
        for (int i = 1; i <= count; ++i) names << QString("p%1.dng").arg(i);
        const QString folder = makeSet(names);
        choose(folder + "p1.dng");
        develop(folder + "p1.dng");
        EXPECT_TRUE(displayed());
        fake->calls.clear();
        fake->endWhenTiffWritten = false;
        fake->durationMs = durationMs;
        // Each frame twice as bright as the next: p1 brightest.
        fake->develop = [](const QString& raw) {
            const int k = raw.mid(raw.lastIndexOf('p') + 1, 1).toInt();
            const double scale = 32.0 / (1 << k);
            const GflBitmap img = makeBitmap(
                60, 40, [&](int x, int, int c) { return scale * (1100 + 10 * x + 20 * c); });
            writeBytes(tiffDeRaw(raw), headerFirstTiff(img));
        };
        fake->messages = [this](const QString& raw) {
            const QString name = raw.mid(raw.lastIndexOf('/') + 1);
            QByteArray text = "Loading synthetic image from " + name.toUtf8() + " ...\n";
            text += fake->failing.contains(name) ? "Cannot decode file " + name.toUtf8() + "\n"
                                                 : "Writing data to developed file ...\n";
            return text;
        };
        return folder;
    }
    const QStringList options{"-v",       "-4", "-T", "-r", "2.132483", "1",
                              "1.480864", "1",  "-q", "3",  "-o",       "1"};
};

TEST_F(ParallelDevelopmentTest, FiveFilesDevelopTwoAtATime) {
    const QString folder = readySet(5, 400);
    const int beepsBefore = beeps;
    window->cmdDevelop->click();
    EXPECT_EQ(fake->calls.size(), 2u);  // as many as the machine may run
    EXPECT_TRUE(window->dcrawLog()->isVisible());
    ASSERT_TRUE(waitFor([&] { return window->cmdEV->isEnabled(); }, 20000))
        << window->statusText().toStdString();

    ASSERT_EQ(fake->calls.size(), 5u);
    for (int i = 1; i <= 5; ++i) {
        const QString raw = folder + QString("p%1.dng").arg(i);
        EXPECT_EQ(fake->startsOf(raw), 1) << i;
        EXPECT_TRUE(QFile::exists(tiffDeRaw(raw))) << i;
    }
    // Same options for every file, each its own process, in set order.
    for (size_t k = 0; k < 5; ++k)
        EXPECT_EQ(fake->calls[k].arguments,
                  options + QStringList{folder + QString("p%1.dng").arg(k + 1)});
    EXPECT_EQ(fake->maxOverlap(), 2);
    // The next file starts as a process ends, not at the 3000 ms completion
    // tick: within a second of the end of a run that was still going.
    for (size_t k = 2; k < 5; ++k) {
        double soonestEnd = 1e300;
        for (size_t j = 0; j < k; ++j)
            soonestEnd = std::min(soonestEnd, fake->calls[j].startMs + fake->durationMs);
        EXPECT_LT(fake->calls[k].startMs - soonestEnd, 1000) << k;
    }
    EXPECT_EQ(logLines(), (QStringList{"5 RAW files selected in path", "5 RAW files found now", "",
                                       "Developing 5 RAW files...", "PLEASE WAIT", "DONE"}));
    EXPECT_EQ(window->NumRevelados, 5);
    EXPECT_EQ(window->UltimoRevelado, 5);
    EXPECT_EQ(window->lblDCRAW->text(), ConstruirComandoDCRAW(window->readSettings(), true, false));
    EXPECT_EQ(beeps, beepsBefore + 1);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(window->timRevelado->isActive());
    EXPECT_FALSE(window->dcrawLog()->isVisible());
}

TEST_F(ParallelDevelopmentTest, AFailingFileIsReportedOnceWhileTheOthersComplete) {
    const QString folder = readySet(5, 300);
    fake->failing = {"p3.dng"};
    const int beepsBefore = beeps;
    window->cmdDevelop->click();
    ASSERT_TRUE(waitFor([&] { return window->cmdEV->isEnabled(); }, 20000))
        << window->statusText().toStdString();
    // One more tick: nothing is reported again.
    waitFor([] { return false; }, 3300);

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "ERROR");
    EXPECT_EQ(boxes[0].text, "DCRAW could not develop p3.dng\r\nCannot decode file p3.dng");
    const QStringList log = logLines();
    EXPECT_EQ(log.count("DCRAW could not develop p3.dng"), 1);
    EXPECT_EQ(log.count("Cannot decode file p3.dng"), 1);
    // The failure does not end the development: one DONE, at its end.
    EXPECT_EQ(log.count("DONE"), 1);
    EXPECT_EQ(log.back(), "DONE");
    EXPECT_EQ(beeps, beepsBefore + 1);
    EXPECT_EQ(fake->calls.size(), 5u);
    EXPECT_FALSE(QFile::exists(folder + "p3.tiff"));
    for (const char* f : {"p1.tiff", "p2.tiff", "p4.tiff", "p5.tiff"})
        EXPECT_TRUE(QFile::exists(folder + f)) << f;

    // Every process's messages, each line under its file's name.
    const QString messages = window->dcrawLog()->text();
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(
            messages.contains(QString("p%1.dng: Loading synthetic image from p%1.dng ...").arg(i)))
            << messages.toStdString();
    EXPECT_TRUE(messages.contains("p3.dng: Cannot decode file p3.dng"));
    EXPECT_TRUE(messages.contains("p5.dng: Writing data to developed file ..."));

    // Calc EV skips the missing TIFF and measures the other four.
    window->cmdEV->click();
    const QStringList ev = logLines();
    EXPECT_EQ(ev.first(), "Loading 5 TIFF files...");
    EXPECT_EQ(ev.count("file p3.tiff not found. Skipped"), 1);
    EXPECT_EQ(window->imagenes.ArchivosTIFF.size(), 4);
    EXPECT_TRUE(window->cmdBuildMap->isEnabled()) << window->statusText().toStdString();
    EXPECT_TRUE(ev.contains("p4.tiff: 2 (+1EV) (95.9% lev)")) << ev.join('|').toStdString();
}

TEST_F(ParallelDevelopmentTest, WhenNoFileCanBeDevelopedTheDevelopmentFails) {
    readySet(2, 200);
    fake->failing = {"p1.dng", "p2.dng"};
    const int beepsBefore = beeps;
    window->cmdDevelop->click();
    ASSERT_TRUE(waitFor([&] { return !window->timRevelado->isActive(); }, 10000));
    EXPECT_EQ(boxes.size(), 2u);
    const QStringList log = logLines();
    EXPECT_EQ(log.count("DONE"), 1);
    EXPECT_EQ(log.back(), "DONE");
    EXPECT_FALSE(window->cmdEV->isEnabled());
    EXPECT_EQ(beeps, beepsBefore);  // no finished development to announce
    EXPECT_FALSE(window->dcrawLog()->isVisible());
}

TEST_F(ParallelDevelopmentTest, TheBusyGuardHoldsTheCompletionWhileRunsArePending) {
    const QString folder = readySet(3, 0);
    fake->endWhenTiffWritten = true;  // the test plays each run's end
    window->cmdDevelop->click();
    ASSERT_EQ(fake->calls.size(), 2u);
    {
        std::optional<BusyScope> busy;
        busy.emplace(*window);
        // Develop does nothing while an operation runs.
        window->cmdDevelop->click();
        EXPECT_EQ(fake->calls.size(), 2u);
        develop(folder + "p1.dng");
        develop(folder + "p2.dng");
        // Starting the next file touches no image set: it goes on.
        ASSERT_TRUE(waitFor([&] { return fake->calls.size() == 3u; }, 3000));
        develop(folder + "p3.dng");
        // Ticks pass; the completion waits.
        waitFor([] { return false; }, 3500);
        EXPECT_FALSE(window->cmdEV->isEnabled());
        EXPECT_TRUE(window->timRevelado->isActive());
        EXPECT_EQ(logLines().back(), "PLEASE WAIT");
        busy.reset();
    }
    ASSERT_TRUE(waitFor([&] { return window->cmdEV->isEnabled(); }, 5000));
    EXPECT_EQ(logLines().back(), "DONE");
    EXPECT_EQ(fake->maxOverlap(), 2);
}

TEST_F(ParallelDevelopmentTest, HighlightRecoveryWaitsForEveryFile) {
    const QString folder = readySet(3, 300);
    window->chkHLRecovery->click();
    window->cmdDevelop->click();
    ASSERT_TRUE(waitFor([&] { return window->timReveladoHLRecovery->isActive(); }, 15000))
        << window->statusText().toStdString();
    // The recovery run starts after all three files, on the darkest (p3).
    ASSERT_EQ(fake->calls.size(), 4u);
    for (size_t k = 0; k < 3; ++k) EXPECT_GE(fake->calls[3].startMs, fake->calls[k].endMs);
    EXPECT_EQ(fake->calls[3].arguments, (options + QStringList{"-H", "2", folder + "p3.dng"}));
    EXPECT_FALSE(window->timRevelado->isActive());
    EXPECT_FALSE(window->cmdEV->isEnabled());
    const QStringList log = logLines();
    EXPECT_EQ(log.first(), "Loading 3 TIFF files...");
    EXPECT_EQ(log.back(), "Highlight recovery on p3.dng...");
    // The message window now follows the recovery run alone.
    EXPECT_TRUE(window->dcrawLog()->isVisible());
    ASSERT_TRUE(waitFor([&] { return window->cmdEV->isEnabled(); }, 10000));
    EXPECT_EQ(logLines().back(), "DONE");
    EXPECT_TRUE(window->dcrawLog()->text().startsWith("p3.dng: Loading"));
    EXPECT_FALSE(window->dcrawLog()->text().contains("p1.dng"));
}

TEST_F(ParallelDevelopmentTest, LeavingHandsTheWaitingFilesToOneDecoder) {
    const QString folder = readySet(5, 0);
    window->cmdDevelop->click();
    ASSERT_EQ(fake->calls.size(), 2u);
    window->close();
    // The two running go on (nothing stops them); the three waiting go to one
    // more dcraw, in set order, so their TIFFs still appear.
    ASSERT_EQ(fake->calls.size(), 3u);
    EXPECT_EQ(fake->calls[2].arguments,
              (options + QStringList{folder + "p3.dng", folder + "p4.dng", folder + "p5.dng"}));
    EXPECT_FALSE(window->timRevelado->isActive());
}

class LowMemoryTest : public ParallelDevelopmentTest {
  protected:
    // Less free memory than one file needs.
    void adjustHooks(WindowHooks& hooks) override {
        hooks.memoryAvailable = [] { return qint64{10}; };
    }
};

TEST_F(LowMemoryTest, FilesGoOneAtATimeWhenTheMemoryHoldsOnlyOne) {
    readySet(3, 200);
    window->cmdDevelop->click();
    EXPECT_EQ(fake->calls.size(), 1u);
    ASSERT_TRUE(waitFor([&] { return window->cmdEV->isEnabled(); }, 15000));
    EXPECT_EQ(fake->calls.size(), 3u);
    EXPECT_EQ(fake->maxOverlap(), 1);
}

}  // namespace
