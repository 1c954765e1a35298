// orrindale-batch on many sets: lists, an output folder, records that let a
// rerun skip finished sets, sets at once, reports, stopping, and the GNU
// parallel recipe of the README, with the real program and the real dcraw.
#include "support/gfl_bitmap.h"
#include "support/recording_reporter.h"

#include <gtest/gtest.h>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

namespace {

struct BatchResult {
    int exitCode = -1;
    QString out, err;
};

BatchResult batch(const QStringList& args, const QString& input = {}) {
    QProcess p;
    p.start(ORRINDALE_BATCH, args);
    p.write(input.toLocal8Bit());
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(300000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

void makeBracket(const QString& folder, const QString& prefix = "IMG_", int width = 600,
                 int height = 400) {
    QDir().mkpath(folder);
    QProcess gen;
    gen.start(ORRINDALE_MAKE_BRACKET,
              {"--count", "3", "--width", QString::number(width), "--height",
               QString::number(height), "--prefix", prefix, "--seed",
               QString::number(prefix.size() + prefix[0].unicode()), "--out", folder});
    ASSERT_TRUE(gen.waitForFinished(120000));
    ASSERT_EQ(gen.exitCode(), 0);
}

// Every file under `folder`: relative name -> size and modification time.
QMap<QString, QString> tree(const QString& folder) {
    QMap<QString, QString> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo f = it.nextFileInfo();
        files.insert(QDir(folder).relativeFilePath(f.filePath()),
                     QString::number(f.size()) + " " +
                         QString::number(f.lastModified().toMSecsSinceEpoch()));
    }
    return files;
}

GflBitmap image(const QString& path) {
    GflBitmap b;
    RecordingReporter rep;
    EXPECT_FALSE(CargarGflBitmap(path, b, rep)) << path.toStdString();
    return b;
}

// A live dcraw of this test (other programs may run theirs meanwhile).
bool decoderRuns(const QString& folder) {
    QProcess p;
    p.start("pgrep", {"-r", "R,S,D", "-f", "^/usr/bin/dcraw .*" + folder});
    p.waitForFinished();
    return p.exitCode() == 0;
}

void writeText(const QString& file) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a photograph\n");
}

class ManySetsTest : public ::testing::Test {
  protected:
    QTemporaryDir dir{QDir::tempPath() + "/o-XXXXXX"};
    QString path(const QString& name) const { return dir.path() + "/" + name; }
};

TEST_F(ManySetsTest, AListIntoAnOutputFolderAtOnceGivesEachSetsOwnPixels) {
    // One set deep enough that its command line passes the window's limit.
    const QString deep = path(QString("d").repeated(60) + "/" + QString("e").repeated(60) + "/");
    const QStringList folders{path("s1/"), path("s2/"), deep}, prefixes{"A_", "B_", "C_"};
    QStringList references;
    for (int k = 0; k < 3; ++k) {
        makeBracket(folders[k], prefixes[k]);
        references << folders[k] + prefixes[k] + "0002.dng";
    }
    // Each set alone, beside its RAW files, as before: the pixels it must get.
    QList<GflBitmap> alone;
    for (int k = 0; k < 3; ++k) {
        const QString copy = path("alone/") + QString::number(k) + "/";
        QDir().mkpath(copy);
        for (const QString& n : QDir(folders[k]).entryList({"*.dng"}))
            QFile::copy(folders[k] + n, copy + n);
        ASSERT_EQ(batch({"--stable-names", copy + prefixes[k] + "0002.dng"}).exitCode, 0);
        alone << image(copy + prefixes[k] + "0002_OD_sRGB_g2.2.tif");
    }
    // Read-only RAW folders (root writes anyway: nothing in them may change).
    for (const QString& f : folders) QFile(f).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const auto rawsBefore = tree(path("s1"));

    QDir().mkpath(path("text"));
    writeText(path("text/notes.txt"));
    const QString list = "# sets\n" + references[0] + "\n\n" + references[1] + "\n" +
                         path("s1/A_0001.dng") + "\n" + path("none/IMG_1.dng") + "\n" +
                         path("text/notes.txt") + "\n";
    const BatchResult r = batch({"--sets-from", "-", references[2], "--out", path("out"), "--jobs",
                                 "2", "--stable-names", "--report", path("report.jsonl")},
                                list);
    for (const QString& f : folders)
        QFile(f).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();  // the missing file
    EXPECT_TRUE(r.err.contains("no such RAW file")) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("A_0001.dng: the same set as A_0002.dng, done once"));
    EXPECT_EQ(tree(path("s1")), rawsBefore);
    EXPECT_EQ(r.out.count("Developing 3 RAW files..."), 3);

    QFile report(path("report.jsonl"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = report.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 5);
    for (const QByteArray& l : lines) {
        const QJsonObject o = QJsonDocument::fromJson(l).object();
        const qsizetype k = references.indexOf(o["reference"].toString());
        if (k < 0) {  // the missing file and the file that is no RAW file fail alone
            const bool missing = o["reference"].toString() == path("none/IMG_1.dng");
            EXPECT_TRUE(missing || o["reference"].toString() == path("text/notes.txt"));
            EXPECT_TRUE(o["result"].toString().startsWith(
                missing ? "no such RAW file" : "DCRAW could not develop notes.txt"))
                << l.toStdString();
            continue;
        }
        EXPECT_EQ(o["result"].toString(), "ok");
        EXPECT_EQ(o["ev"].toArray().size(), 3);
        // The wrote line and the report name exactly what the set's folder holds.
        const QString stem = prefixes[k] + "0002";
        const QStringList files = o["files"].toVariant().toStringList();
        EXPECT_EQ(files, QDir(path("out/") + stem).entryList(QDir::Files, QDir::Name));
        EXPECT_TRUE(r.out.contains(stem + ".dng: wrote " + files.join(", ")));
        // Its lines stay together: its own log comes right before its summary.
        const qsizetype summary = r.out.indexOf(stem + ".dng: wrote");
        EXPECT_LT(r.out.lastIndexOf("Developing 3 RAW files...", summary),
                  r.out.lastIndexOf("Saving image as " + stem + "_OD_sRGB_g2.2.tif", summary));
        EXPECT_TRUE(image(path("out/") + stem + "/" + stem + "_OD_sRGB_g2.2.tif").pixels ==
                    alone[k].pixels)
            << stem.toStdString();
    }
}

TEST_F(ManySetsTest, SkipDoneLeavesFinishedSetsAloneAndRedoesTheRest) {
    makeBracket(path("a/"));
    const QStringList args{"--out", path("out"), "--skip-done", "--stable-names",
                           path("a/IMG_0001.dng")};
    ASSERT_EQ(batch(args).exitCode, 0);
    const auto done = tree(path("out"));
    QThread::msleep(20);
    const BatchResult again = batch(args);
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, "IMG_0001.dng: done earlier, skipped\n");
    EXPECT_EQ(tree(path("out")), done);

    // A record that cannot be trusted, or other settings: the set is redone.
    const QString record = path("out/IMG_0001/IMG_0001.dng.orrindale.json");
    QFile f(record);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray good = f.readAll();
    f.close();
    const struct {
        QByteArray record;
        QStringList extra;
        const char* line;
    } cases[] = {
        {good.left(good.size() / 2), {}, "its record of an earlier run is damaged, redone"},
        {QByteArray(good).replace("\"version\": \"", "\"version\": \"0.0"),
         {},
         "its record is from version 0.0"},
        {good, {"--threshold", "80"}, "the settings differ from the earlier run's, redone"},
    };
    for (const auto& c : cases) {
        QFile w(record);
        ASSERT_TRUE(w.open(QIODevice::WriteOnly | QIODevice::Truncate));
        w.write(c.record);
        w.close();
        const BatchResult r = batch(c.extra + args);
        EXPECT_EQ(r.exitCode, 0) << c.line;
        EXPECT_TRUE(r.out.startsWith(QString("IMG_0001.dng: ") + c.line))
            << r.out.left(200).toStdString();
        EXPECT_TRUE(r.out.contains("IMG_0001.dng: wrote ")) << c.line;
    }
}

TEST_F(ManySetsTest, StableNamesTwiceReplaceTheFiles) {
    makeBracket(path("a/"));
    const QStringList args{"--stable-names", path("a/IMG_0001.dng")};
    ASSERT_EQ(batch(args).exitCode, 0);
    const auto first = tree(path("a"));
    QThread::msleep(20);
    const BatchResult second = batch(args);
    ASSERT_EQ(second.exitCode, 0);
    const auto again = tree(path("a"));
    EXPECT_EQ(again.keys(), first.keys());
    EXPECT_TRUE(again.keys().contains("IMG_0001_OD_sRGB_g2.2.tif"));
    EXPECT_NE(again.value("IMG_0001_Map.png"), first.value("IMG_0001_Map.png"));
}

TEST_F(ManySetsTest, TermStopsTheDecodersLeavesNoPartialFileAndSkipDoneFinishes) {
    makeBracket(path("big/"), "IMG_", 4000, 3000);
    makeBracket(path("small/"), "S_");
    const QStringList args{"--out", path("out"), "--skip-done", path("small/S_0001.dng"),
                           path("big/IMG_0001.dng")};
    QProcess p;
    p.start(ORRINDALE_BATCH, args);
    ASSERT_TRUE(p.waitForStarted());
    // Stopped while the big set's decoders run.
    for (int k = 0; k < 3000; ++k) {
        if (QFileInfo::exists(path("out/S_0001/S_0001.dng.orrindale.json")) &&
            decoderRuns(dir.path()))
            break;
        QThread::msleep(10);
    }
    ASSERT_TRUE(decoderRuns(dir.path()));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 143);
    for (int k = 0; k < 100 && decoderRuns(dir.path()); ++k) QThread::msleep(20);
    EXPECT_FALSE(decoderRuns(dir.path()));
    EXPECT_EQ(QDir(path("out/IMG_0001")).entryList(QDir::Files | QDir::Hidden), QStringList());

    const BatchResult rest = batch(args);
    EXPECT_EQ(rest.exitCode, 0) << rest.err.toStdString();
    EXPECT_TRUE(rest.out.startsWith("S_0001.dng: done earlier, skipped\n"));
    EXPECT_TRUE(rest.out.contains("IMG_0001.dng: wrote "));
}

// The README's recipe as written, on this machine.
TEST_F(ManySetsTest, TheGnuParallelRecipe) {
    const QString parallel = QStandardPaths::findExecutable("parallel");
    if (parallel.isEmpty()) GTEST_SKIP() << "GNU parallel is not installed";
    QFile list(path("sets.txt"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    for (const QString s : {"A_", "B_", "C_"}) {
        makeBracket(path(s), s);
        list.write((path(s) + "/" + s + "0001.dng\n").toLocal8Bit());
    }
    list.close();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", QFileInfo(ORRINDALE_BATCH).absolutePath() + ":" + env.value("PATH"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    p.start("bash", {"-c", "parallel -j2 orrindale-batch --out OUT --skip-done {} :::: sets.txt"});
    ASSERT_TRUE(p.waitForFinished(300000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    for (const QString s : {"A_", "B_", "C_"})
        EXPECT_TRUE(QFileInfo::exists(path("OUT/") + s + "0001/" + s + "0001.dng.orrindale.json"))
            << s.toStdString();
}

}  // namespace
