// The generator's moving subject: only the rows its box covers change, from
// its left edge on (a row's noise is drawn along it, and the subject's own
// draws differ from the scenery's), and its option is checked like the others.
#include <gtest/gtest.h>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>

namespace {

int generate(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(ORRINDALE_MAKE_BRACKET), args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) return -1;
    return p.exitCode();
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(MoverOption, OnlyTheSubjectsRowsChangeFrameByFrame) {
    QTemporaryDir dir;
    const int w = 200, h = 134;
    const QStringList common{"--count",          "3",        "--width",
                             QString::number(w), "--height", QString::number(h)};
    ASSERT_EQ(generate(common + QStringList{"--out", dir.filePath("still")}), 0);
    ASSERT_EQ(generate(common + QStringList{"--mover", "20.5,30,40,30,25,-10", "--out",
                                            dir.filePath("moving")}),
              0);
    for (int frame = 0; frame < 3; ++frame) {
        SCOPED_TRACE(frame);
        const QString name = QString("/IMG_%1.dng").arg(frame + 1, 4, 10, QChar('0'));
        const QByteArray still = bytesOf(dir.filePath("still") + name);
        const QByteArray moving = bytesOf(dir.filePath("moving") + name);
        ASSERT_EQ(still.size(), moving.size());
        // The mosaic closes the file: 16-bit samples, row by row.
        const qsizetype mosaic = still.size() - qsizetype{w} * h * 2;
        // The box with the photosites its anti-aliased edges touch, and the
        // rest of its rows.
        const QRect box(20 + 25 * frame, 30 - 10 * frame, w, 30);
        int changed = 0;
        for (qsizetype i = 0; i < still.size(); ++i) {
            if (still[i] == moving[i]) continue;
            ASSERT_GE(i, mosaic) << "a header byte changed";
            const qsizetype sample = (i - mosaic) / 2;
            const QPoint at(static_cast<int>(sample % w), static_cast<int>(sample / w));
            EXPECT_TRUE(box.contains(at)) << at.x() << "," << at.y();
            ++changed;
        }
        EXPECT_GT(changed, 40 * 30);
    }
    for (const char* bad :
         {"1,2,3,4,5", "1,2,0,4,5,6", "1,2,3,-4,5,6", "1,2,3,4,5,6,7", "a,2,3,4,5,6"})
        EXPECT_EQ(generate({"--mover", bad, "--out", dir.filePath("bad")}), 2) << bad;
}

}  // namespace
