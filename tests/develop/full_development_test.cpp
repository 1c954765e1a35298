// The full development driven without a window: a recording reporter, the
// stand-in decoder, and the test deciding when each process ends.
#include "pipeline/full_development.h"

#include "pipeline/calc_ev.h"
#include "pipeline/image_set.h"
#include "support/recording_reporter.h"
#include "tests/common/fake_decoder.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

const QStringList kOptions{"-v",       "-4", "-T", "-r", "2.132483", "1",
                           "1.480864", "1",  "-q", "3",  "-o",       "1"};

class FullDevelopmentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        decoder.endWhenTiffWritten = false;
        // Frame k is half as bright as frame k - 1, so the last is the darkest.
        decoder.develop = [](const QString& raw) {
            const int k = raw.mid(raw.lastIndexOf('f') + 1, 1).toInt();
            const double scale = 32.0 / (1 << k);
            writeBytes(tiffDeRaw(raw), headerFirstTiff(makeBitmap(60, 40, [&](int x, int, int c) {
                           return scale * (1100 + 10 * x + 20 * c);
                       })));
        };
        decoder.messages = [](const QString& raw) {
            return "Loading " + raw.mid(raw.lastIndexOf('/') + 1).toUtf8() + "\nCannot decode\n";
        };
    }

    // RAW stand-ins f1.dng ... f<count>.dng (the fake never reads them).
    FullDevelopmentJob job(int count, bool hl = false) {
        FullDevelopmentJob j;
        for (int i = 1; i <= count; ++i) {
            const QString name = QString("f%1.dng").arg(i);
            writeBytes(dir.filePath(name), "raw");
            j.archivosRAW << name;
        }
        j.rutaReferencia = dir.filePath("f1.dng");
        presetWB(2, j.settings.txtWB);
        j.hlRecovery = hl;
        return j;
    }
    QString raw(int i) const { return dir.filePath(QString("f%1.dng").arg(i)); }
    FullDevelopmentOptions options(int maxProcesses = 2) {
        FullDevelopmentOptions o;
        o.maxProcesses = maxProcesses;
        o.memoryAvailable = [this] { return memory; };
        return o;
    }

    QTemporaryDir dir;
    FakeDecoder decoder;
    RecordingReporter reporter;
    ImageSet set;
    qint64 memory = qint64{1} << 40;
};

TEST_F(FullDevelopmentTest, FiveFilesWithAtMostTwoAtATime) {
    FullDevelopment development(decoder, reporter, set, options(2));
    ASSERT_EQ(development.start(job(5)), DevelopmentStatus::Developing);
    EXPECT_EQ(decoder.calls.size(), 2u);
    EXPECT_EQ(development.numRevelados(), 5);
    EXPECT_EQ(development.ultimoRevelado(), 5);

    // Whichever ends first, the next file takes its place; no more than two.
    decoder.end(1, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Developing);
    ASSERT_EQ(decoder.calls.size(), 3u);
    decoder.end(0, true);
    decoder.end(2, true);
    development.startDueFiles();
    ASSERT_EQ(decoder.calls.size(), 5u);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Developing);
    decoder.end(4, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Developing);
    decoder.end(3, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Complete);

    EXPECT_EQ(decoder.maxOverlap(), 2);
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(decoder.startsOf(raw(i)), 1) << i;
        EXPECT_EQ(decoder.calls[static_cast<size_t>(i) - 1].arguments,
                  kOptions + QStringList{raw(i)});
        EXPECT_EQ(decoder.calls[static_cast<size_t>(i) - 1].program, RutaDCRAW);
    }
    EXPECT_EQ(reporter.logLines(),
              (QStringList{"5 RAW files selected in path", "5 RAW files found now", "",
                           "Developing 5 RAW files...", "PLEASE WAIT", "DONE"}));
    ASSERT_EQ(reporter.commands.size(), 1);
    EXPECT_EQ(reporter.commands[0],
              "/usr/bin/dcraw -v -4 -T -r 2.132483 1 1.480864 1 -q 3 -o 1 -t 0 -h");
    EXPECT_EQ(reporter.beeps, 1);
    EXPECT_TRUE(reporter.boxes.empty());
    // Finished means finished: more polls change nothing.
    EXPECT_EQ(development.poll(), DevelopmentStatus::Complete);
    EXPECT_EQ(reporter.beeps, 1);
}

TEST_F(FullDevelopmentTest, StartingTheNextFilesTellsTheUserNothing) {
    FullDevelopment development(decoder, reporter, set, options(2));
    development.start(job(3));
    const QString log = reporter.log;
    decoder.end(0, false);  // even a failure waits for the completion check
    development.startDueFiles();
    EXPECT_EQ(decoder.calls.size(), 3u);
    EXPECT_EQ(reporter.log, log);
    EXPECT_TRUE(reporter.boxes.empty());
}

TEST_F(FullDevelopmentTest, AFailedFileIsReportedOnceAndTheOthersComplete) {
    FullDevelopment development(decoder, reporter, set, options(2));
    const FullDevelopmentJob j = job(4);
    development.start(j);
    decoder.end(1, false);  // f2 ends without a TIFF
    EXPECT_EQ(development.poll(), DevelopmentStatus::Developing);
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0].title, "ERROR");
    EXPECT_EQ(reporter.boxes[0].text, "DCRAW could not develop f2.dng\r\nCannot decode");
    EXPECT_EQ(reporter.logLines().mid(5),
              (QStringList{"DCRAW could not develop f2.dng", "Cannot decode"}));
    // Its core went to f3 at once.
    ASSERT_EQ(decoder.calls.size(), 3u);
    decoder.end(0, true);
    decoder.end(2, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Developing);
    ASSERT_EQ(decoder.calls.size(), 4u);
    decoder.end(3, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Complete);
    EXPECT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.logLines().count("DCRAW could not develop f2.dng"), 1);
    EXPECT_EQ(reporter.logLines().count("DONE"), 1);
    EXPECT_EQ(reporter.beeps, 1);
    EXPECT_EQ(development.numRevelados(), 4);  // so Calc EV is allowed

    // Calc EV goes on without the missing file.
    RecordingReporter ev;
    EXPECT_EQ(calcularEV(j.rutaReferencia, j.archivosRAW, true, set, ev), 1)
        << ev.log.toStdString();
    EXPECT_TRUE(ev.logLines().contains("file f2.tiff not found. Skipped"));
    EXPECT_EQ(set.ArchivosTIFF.size(), 3);
}

TEST_F(FullDevelopmentTest, WhenEveryFileFailsTheLastReportEndsTheDevelopment) {
    FullDevelopment development(decoder, reporter, set, options(2));
    development.start(job(2));
    decoder.end(0, false);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Developing);
    EXPECT_EQ(reporter.logLines().back(), "Cannot decode");
    decoder.end(1, false);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Failed);
    EXPECT_EQ(reporter.logLines().mid(reporter.logLines().size() - 3),
              (QStringList{"DCRAW could not develop f2.dng", "Cannot decode", "DONE"}));
    EXPECT_EQ(reporter.boxes.size(), 2u);
    EXPECT_EQ(reporter.beeps, 0);
}

TEST_F(FullDevelopmentTest, AProcessThatCannotStartIsAFailedFile) {
    class NoStart : public FakeDecoder {
        DcrawRun start(const QString& p, const QStringList& a) override {
            FakeDecoder::start(p, a);
            return DcrawRun();  // pid 0
        }
    } decoder;
    FullDevelopment development(decoder, reporter, set, options(2));
    development.start(job(3));
    EXPECT_EQ(decoder.calls.size(), 3u);  // none holds a core
    EXPECT_EQ(development.poll(), DevelopmentStatus::Failed);
    EXPECT_EQ(reporter.boxes.size(), 3u);
    EXPECT_EQ(reporter.boxes[0].text, "DCRAW could not develop f1.dng");
}

TEST_F(FullDevelopmentTest, FreeMemoryLimitsHowManyRunAtOnce) {
    // Each stand-in file is 3 bytes: 30 bytes a process. Room for two.
    memory = 75;
    FullDevelopment development(decoder, reporter, set, options(8));
    development.start(job(4));
    EXPECT_EQ(decoder.calls.size(), 2u);
    EXPECT_EQ(development.pool().limits().maxProcesses, 8);
    EXPECT_EQ(development.pool().limits().memoryBudget, 75);
    decoder.end(0, true);
    development.startDueFiles();
    EXPECT_EQ(decoder.calls.size(), 3u);
    // Less than one file needs: still one at a time, never none.
    memory = 5;
    FullDevelopment tight(decoder, reporter, set, options(8));
    decoder.calls.clear();
    tight.start(job(4));
    EXPECT_EQ(decoder.calls.size(), 1u);
}

TEST_F(FullDevelopmentTest, HighlightRecoveryRunsAfterEveryFileOnTheDarkest) {
    FullDevelopment development(decoder, reporter, set, options(2));
    QString beforeLoading;
    reporter.onProcessEvents = [&] {
        if (!reporter.log.startsWith("Loading")) beforeLoading = reporter.log;
    };
    development.start(job(3, true));
    decoder.end(0, true);
    decoder.end(1, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Developing);  // f3 just started
    decoder.end(2, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::FilesDone);
    EXPECT_TRUE(reporter.pauses.empty());
    EXPECT_EQ(development.poll(), DevelopmentStatus::HighlightRecovery);
    EXPECT_EQ(reporter.pauses, std::vector<int>{4000});
    ASSERT_EQ(decoder.calls.size(), 4u);
    EXPECT_EQ(decoder.calls[3].arguments, (kOptions + QStringList{"-H", "2", raw(3)}));
    EXPECT_FALSE(QFile::exists(dir.filePath("f3.tiff")));  // deleted before the re-run
    EXPECT_EQ(beforeLoading,
              "3 RAW files selected in path\r\n3 RAW files found now\r\n\r\nDeveloping 3 RAW "
              "files...\r\nPLEASE WAIT\r\n\r\nWaiting to save last TIFF...\r\nDONE\r\n");
    // The loading restarted the log.
    const QStringList log = reporter.logLines();
    EXPECT_EQ(log.first(), "Loading 3 TIFF files...");
    EXPECT_TRUE(log.contains("Sorting images by exposure..."));
    EXPECT_EQ(log.back(), "Highlight recovery on f3.dng...");
    EXPECT_FALSE(set.TIFFsCargados);
    EXPECT_EQ(set.TIFFMenosExpuesto, dir.filePath("f3.tiff"));
    EXPECT_EQ(reporter.beeps, 0);

    EXPECT_EQ(development.poll(), DevelopmentStatus::HighlightRecovery);
    decoder.end(3, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Complete);
    EXPECT_EQ(reporter.logLines().back(), "DONE");
    EXPECT_EQ(reporter.beeps, 1);
    EXPECT_EQ(reporter.commands.size(), 1);
}

TEST_F(FullDevelopmentTest, AFailedRecoveryRunIsReportedAndEndsTheDevelopment) {
    FullDevelopment development(decoder, reporter, set, options(2));
    development.start(job(2, true));
    decoder.end(0, true);
    decoder.end(1, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::FilesDone);
    EXPECT_EQ(development.poll(), DevelopmentStatus::HighlightRecovery);
    decoder.end(2, false);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Failed);
    EXPECT_EQ(reporter.logLines().mid(reporter.logLines().size() - 3),
              (QStringList{"DCRAW could not develop f2.dng", "Cannot decode", "DONE"}));
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.beeps, 0);
}

TEST_F(FullDevelopmentTest, TooFewTiffsForRecoveryEndTheDevelopment) {
    FullDevelopment development(decoder, reporter, set, options(2));
    development.start(job(2, true));
    decoder.end(0, true);
    decoder.end(1, false);
    EXPECT_EQ(development.poll(), DevelopmentStatus::FilesDone);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Failed);
    EXPECT_EQ(reporter.logLines().mid(reporter.logLines().size() - 3),
              (QStringList{"", "Insufficient TIFF files", "DONE"}));
    EXPECT_EQ(decoder.calls.size(), 2u);
}

TEST_F(FullDevelopmentTest, TheRecoveryChoiceIsReadWhenTheFilesAreDone) {
    FullDevelopment development(decoder, reporter, set, options(2));
    development.start(job(2, false));
    DevelopSettings later;
    later.calidad = 1;
    development.updateChoices(later, true);
    decoder.end(0, true);
    decoder.end(1, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::FilesDone);
    EXPECT_EQ(development.poll(), DevelopmentStatus::HighlightRecovery);
    EXPECT_TRUE(decoder.calls.back().arguments.join(' ').contains("-r 1 1 1 1 -q 1 -o 1 -H 2"));
}

TEST_F(FullDevelopmentTest, APollFromAStatusLinesEventsDoesNothing) {
    FullDevelopment development(decoder, reporter, set, options(2));
    development.start(job(2));
    int nested = 0;
    reporter.onProcessEvents = [&] {
        ++nested;
        EXPECT_EQ(development.poll(), development.status());
        EXPECT_EQ(development.start(job(2)), DevelopmentStatus::NotStarted);
    };
    decoder.end(0, false);
    decoder.end(1, true);
    EXPECT_EQ(development.poll(), DevelopmentStatus::Complete);
    EXPECT_GT(nested, 0);
    EXPECT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.logLines().count("DONE"), 1);
}

TEST_F(FullDevelopmentTest, WithoutTheDecoderNothingChanges) {
    FullDevelopment development(decoder, reporter, set, options(2));
    development.start(job(3));
    FullDevelopmentJob missing = job(3);
    missing.rutaDCRAW = "/nonexistent/dcraw";
    EXPECT_EQ(development.start(missing), DevelopmentStatus::NotStarted);
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0].text, "DCRAW not found in '/nonexistent/dcraw'");
    // The development under way goes on.
    EXPECT_EQ(development.status(), DevelopmentStatus::Developing);
    EXPECT_EQ(decoder.calls.size(), 2u);
}

TEST_F(FullDevelopmentTest, NothingToDevelopAndLinesOverTheLimitStartNothing) {
    FullDevelopment development(decoder, reporter, set, options(2));
    FullDevelopmentJob j = job(2);
    QFile::remove(raw(1));
    QFile::remove(raw(2));
    EXPECT_EQ(development.start(j), DevelopmentStatus::Idle);
    EXPECT_EQ(reporter.logLines(),
              (QStringList{"2 RAW files selected in path", "file f1.dng not found. Skipped",
                           "file f2.dng not found. Skipped", "0 RAW files found now", "",
                           "Not files to develop", "DONE"}));
    EXPECT_EQ(reporter.beeps, 1);

    j = job(2);
    j.settings.txtDCRAW = QString(120, QChar('x'));
    EXPECT_EQ(development.start(j), DevelopmentStatus::Idle);
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_TRUE(
        reporter.boxes[0].text.startsWith("Max DCRAW command line total length exceeded by"));
    EXPECT_TRUE(decoder.calls.empty());
}

TEST_F(FullDevelopmentTest, HandingOverGivesTheWaitingFilesToOneProcess) {
    FullDevelopment development(decoder, reporter, set, options(2));
    development.start(job(4));
    development.handOverWaitingFiles();
    ASSERT_EQ(decoder.calls.size(), 3u);
    EXPECT_EQ(decoder.calls[2].arguments, (kOptions + QStringList{raw(3), raw(4)}));
    development.startDueFiles();
    decoder.end(0, true);
    development.startDueFiles();
    EXPECT_EQ(decoder.calls.size(), 3u);
}

TEST_F(FullDevelopmentTest, AHeadlessLoopDrivesItToTheEnd) {
    decoder.durationMs = 50;
    decoder.failing = {"f2.dng"};
    FullDevelopment development(decoder, reporter, set, options(2));
    EXPECT_EQ(developToEnd(development, job(4, true), 10), DevelopmentStatus::Complete)
        << reporter.log.toStdString();
    EXPECT_EQ(decoder.calls.size(), 5u);
    EXPECT_LE(decoder.maxOverlap(), 2);
    EXPECT_EQ(decoder.calls[4].arguments, (kOptions + QStringList{"-H", "2", raw(4)}));
    EXPECT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.logLines().back(), "DONE");
    // Every process's lines under its file's name.
    const QStringList lines = development.messages().readNew();
    for (int i = 1; i <= 4; ++i)
        EXPECT_TRUE(lines.contains(QString("f%1.dng: Loading f%1.dng").arg(i))) << i;
    EXPECT_EQ(lines.count("f4.dng: Loading f4.dng"), 2);  // and its recovery run
}

}  // namespace
