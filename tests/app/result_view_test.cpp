// The preview box after each step of a real chain shows what the step wrote,
// with its caption; a click brings the RAW preview back.
#include "tests/app/window_fixture.h"
#include "tests/common/exposure_sets.h"

#include "support/gfl_bitmap.h"
#include "support/recording_reporter.h"
#include "support/reduced_picture.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>

namespace {

// The file as a viewer shows it: 16-bit samples / 257, or the 8-bit picture.
QImage asViewed(const QString& path) {
    if (!path.endsWith(".tif")) return QImage(path).convertToFormat(QImage::Format_RGB32);
    GflBitmap b;
    RecordingReporter rep;
    if (CargarGflBitmap(path, b, rep)) return QImage();
    QImage out(b.width, b.height, QImage::Format_RGB32);
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            const uint16_t* p = b.row(y) + x * 3;
            out.setPixel(x, y,
                         qRgb(qRound(p[0] / 257.0), qRound(p[1] / 257.0), qRound(p[2] / 257.0)));
        }
    return out;
}

class ResultViewTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        // Wider than a small copy, so the copy is averaged before it is fitted.
        window->ArchivosRAW = writeBracketSet(folder, 3, 1400, 700, 7);
        window->txtRuta->setText(folder + "IMG_1.CR2");
        window->estado.ImagenMostrada = true;
        window->pctImagen->setPicture(QImage(300, 200, QImage::Format_RGB32));
        window->cmdEV->setEnabled(true);
    }
    QString newest(const char* pattern) const {
        return folder + QDir(folder).entryList({pattern}, QDir::Files, QDir::Time).value(0);
    }
    // The box shows the file fitted, within a grey level or two, under its caption.
    void expectShown(const char* pattern, const QString& what) {
        const QString path = newest(pattern);
        SCOPED_TRACE(path.toStdString());
        const PreviewBox& box = *window->pctImagen;
        ASSERT_TRUE(box.showingResult());
        EXPECT_EQ(box.caption(), what + ": " + QFileInfo(path).fileName());
        const QImage viewed = asViewed(path);
        // Fitted from the small copy, whose sides are rounded up: a pixel apart at most.
        const QSize fitted =
            viewed.size().scaled(box.innerWidth(), box.innerHeight(), Qt::KeepAspectRatio);
        const QSize apart = box.result().size() - fitted;
        EXPECT_LE(QPoint(apart.width(), apart.height()).manhattanLength(), 1);
        const QImage expected = reducedPicture(viewed).scaled(
            box.result().size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x)
                ASSERT_NEAR(qGray(box.result().pixel(x, y)), qGray(expected.pixel(x, y)), 2)
                    << x << "," << y;
    }
    QTemporaryDir dir;
    QString folder = dir.path() + "/";
};

TEST_F(ResultViewTest, EachStepShowsWhatItWroteAndAClickBringsThePreviewBack) {
    frmMain& w = *window;
    w.cmdEV->click();
    EXPECT_EQ(w.lblXY->text(), "100%");  // loading and measuring counted
    expectShown("His_*.gif", "Histogram");
    w.cmdBuildMap->click();
    expectShown("Map_*.png", "Map");
    w.hscBracketNum->setValue(2);  // the first of a series is shown
    w.lblXY->clear();
    w.cmdBlendBW->click();
    EXPECT_EQ(w.lblXY->text(), "100%");  // the blend as it is written
    expectShown("OD_BW_*_0EV.tif", "Output");
    w.cmdTestBW->click();
    expectShown("BWTest_*.gif", "Sheet");
    EXPECT_TRUE(boxes.empty());
    w.cmdCopyClipBoard_Click();  // "Snapshot" copies what is shown
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), w.pctImagen->result().size());
    // A click on a result places no patch: it shows the preview again.
    QTest::mouseClick(w.pctImagen, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_FALSE(w.pctImagen->showingResult());
    EXPECT_FALSE(w.estado.ParcheColocado);
    EXPECT_EQ(w.pctImagen->picture().size(), QSize(300, 200));
    // So does another reference.
    w.cmdTestBW->click();
    ASSERT_TRUE(w.pctImagen->showingResult());
    nextFile = folder + "IMG_2.CR2";
    w.cmdSeleccionar->click();
    EXPECT_FALSE(w.pctImagen->showingResult());
}

TEST_F(ResultViewTest, AFileGoneBeforeTheEndIsNotShown) {
    window->cmdEV->click();
    window->pctImagen->dismissResult();
    // The map is removed as soon as it appears, while the build still runs.
    QTimer sweeper;
    QObject::connect(&sweeper, &QTimer::timeout, [&] { QFile::remove(newest("Map_*.png")); });
    sweeper.start(0);
    window->cmdBuildMap->click();
    sweeper.stop();
    EXPECT_EQ(newest("Map_*.png"), folder);
    EXPECT_FALSE(window->pctImagen->showingResult());
    EXPECT_TRUE(boxes.empty());
}

}  // namespace
