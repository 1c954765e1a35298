// The preview box after each step of a real chain shows what the step wrote,
// with its caption; a click brings the RAW preview back.
#include "tests/app/window_fixture.h"
#include "tests/common/exposure_sets.h"

#include "support/gfl_bitmap.h"
#include "support/recording_reporter.h"
#include "support/reduced_picture.h"

#include <QDir>
#include <QMouseEvent>
#include <cmath>

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
            out.setPixel(x, y, qRgb(qRound(p[0] / 257.0), qRound(p[1] / 257.0), qRound(p[2] / 257.0)));
        }
    return out;
}

// Plain block means over f x f pixels, partial blocks at the edges.
QImage blockMeans(const QImage& picture, int f) {
    const QSize size((picture.width() + f - 1) / f, (picture.height() + f - 1) / f);
    QImage out(size, QImage::Format_RGB32);
    for (int by = 0; by < size.height(); ++by)
        for (int bx = 0; bx < size.width(); ++bx) {
            double r = 0, g = 0, b = 0, n = 0;
            for (int y = by * f; y < std::min(picture.height(), (by + 1) * f); ++y)
                for (int x = bx * f; x < std::min(picture.width(), (bx + 1) * f); ++x, ++n) {
                    const QRgb c = picture.pixel(x, y);
                    r += qRed(c), g += qGreen(c), b += qBlue(c);
                }
            out.setPixel(bx, by, qRgb(qRound(r / n), qRound(g / n), qRound(b / n)));
        }
    return out;
}

// Mean and largest difference of the grey levels of two pictures of one size.
std::pair<double, int> difference(const QImage& a, const QImage& b) {
    double sum = 0;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const int d = std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
            sum += d;
            largest = std::max(largest, d);
        }
    return {sum / (a.width() * a.height()), largest};
}

class ResultViewTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        folder = dir.path() + "/";
        // Wider than a reduced copy, so the copy is averaged before it is fitted.
        window->ArchivosRAW = writeBracketSet(folder, 3, 1400, 700, 7);
        window->txtRuta->setText(folder + "IMG_1.CR2");
        window->estado.ImagenMostrada = true;
        window->pctImagen->setPicture(QImage(300, 200, QImage::Format_RGB32));
        window->cmdEV->setEnabled(true);
    }
    QString newest(const char* pattern) const {
        const QStringList names = QDir(folder).entryList({pattern}, QDir::Files, QDir::Time);
        return names.isEmpty() ? QString() : folder + names.first();
    }
    // The box shows `path`, fitted, within a few grey levels, under `caption`.
    void expectShown(const QString& path, const QString& caption) {
        SCOPED_TRACE(caption.toStdString());
        const PreviewBox& box = *window->pctImagen;
        ASSERT_TRUE(box.showingResult());
        EXPECT_EQ(box.caption(), caption);
        const QImage viewed = asViewed(path);
        const QSize fitted = viewed.size().scaled(box.innerWidth(), box.innerHeight(), Qt::KeepAspectRatio);
        EXPECT_LE(std::abs(box.result().width() - fitted.width()), 1);
        EXPECT_LE(std::abs(box.result().height() - fitted.height()), 1);
        const QImage reduced = blockMeans(viewed, reductionFactor(viewed.width(), viewed.height()));
        const auto [mean, largest] = difference(
            box.result(), reduced.scaled(box.result().size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        EXPECT_LT(mean, 0.5);
        EXPECT_LE(largest, 3);
    }
    QTemporaryDir dir;
    QString folder;
};

TEST_F(ResultViewTest, EachStepShowsWhatItWroteAndAClickBringsThePreviewBack) {
    frmMain& w = *window;
    w.cmdEV->click();
    expectShown(newest("His_*.gif"), "Histogram: " + QFileInfo(newest("His_*.gif")).fileName());
    w.cmdBuildMap->click();
    expectShown(w.txtRutaMap->text(), "Map: " + QFileInfo(w.txtRutaMap->text()).fileName());
    w.hscBracketNum->setValue(2);  // the first of a series is shown
    w.cmdBlendBW->click();
    const QString output = newest("OD_BW_*_0EV.tif");
    ASSERT_FALSE(output.isEmpty()) << w.statusText().toStdString();
    expectShown(output, "Output: " + QFileInfo(output).fileName());
    w.cmdTestBW->click();
    expectShown(newest("BWTest_*.gif"), "Sheet: " + QFileInfo(newest("BWTest_*.gif")).fileName());
    EXPECT_TRUE(boxes.empty());

    // Over a result the pointer draws no patch; a click shows the preview again.
    QTest::mouseClick(w.pctImagen, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_FALSE(w.pctImagen->showingResult());
    EXPECT_FALSE(w.estado.ParcheColocado);
    EXPECT_EQ(w.pctImagen->picture().size(), QSize(300, 200));
}

TEST_F(ResultViewTest, AFileGoneBeforeTheEndIsNotShown) {
    frmMain& w = *window;
    w.cmdEV->click();
    w.pctImagen->dismissResult();
    // The output is removed as soon as it appears, while the blend still runs.
    QTimer sweeper;
    QObject::connect(&sweeper, &QTimer::timeout, [&] {
        for (const QString& n : QDir(folder).entryList({"Map_*.png"}, QDir::Files))
            QFile::remove(folder + n);
    });
    sweeper.start(0);
    w.cmdBuildMap->click();
    sweeper.stop();
    EXPECT_TRUE(newest("Map_*.png").isEmpty());
    EXPECT_FALSE(w.pctImagen->showingResult());
    EXPECT_TRUE(boxes.empty());
}

}  // namespace
