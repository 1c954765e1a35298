// The viewer driven as a user would, on a set whose map is known: three
// bands a different image is the best exposure of. Crops at 100 % are the
// files' own pixels, on any device pixel ratio (ctest runs this binary again
// with QT_SCALE_FACTOR=2); zooms keep the pixel under the pointer; the
// read-out names samples and the chosen image; B flips; bad files and
// running operations are lived with.
#include "app/viewer_canvas.h"
#include "app/viewer_window.h"
#include "blend/hdr_output.h"
#include "pipeline/output_formats.h"
#include "support/gfl_bitmap.h"
#include "support/recording_reporter.h"
#include "support/screen_tone.h"
#include "tests/app/window_fixture.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/hdr_readers.h"

#include <QCheckBox>
#include <QDir>
#include <QScreen>
#include <QWheelEvent>
#include <cmath>

namespace {

constexpr int kWidth = 1600, kHeight = 1200;
// Band b of three is best exposed in image b + 1.
int bandCentre(int b) {
    return kWidth * (2 * b + 1) / 6;
}

// Scene radiance of a band with a texture, so that a crop shifted by a pixel
// differs: bright (clipped from image 2 on), middle (from image 3), dark.
GflBitmap bandFrame(double gain) {
    GflBitmap f = uniformBitmap(kWidth, kHeight, 0, 0, 0);
    const double base[3] = {30000, 8000, 1000};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double r =
                base[std::min(2, x * 3 / kWidth)] * (1 + 0.2 * ((x * 7 + y * 13) % 17) / 17);
            for (int c = 0; c < 3; ++c)
                f.row(y)[x * 3 + c] =
                    static_cast<uint16_t>(std::min(65535.0, std::round(r * gain * (1 - 0.2 * c))));
        }
    return f;
}

// A file as the viewer must show it: 16-bit samples / 257 (or through the
// preview's gamma 2.2), an 8-bit picture as it is.
QImage onScreen(const QString& path, bool previewGamma = false) {
    if (!path.endsWith(".tif") && !path.endsWith(".tiff"))
        return QImage(path).convertToFormat(QImage::Format_RGB32);
    GflBitmap b;
    RecordingReporter rep;
    if (CargarGflBitmap(path, b, rep)) return QImage();
    const std::vector<uint8_t> table = previewGamma ? gammaScreenTable(2.2) : plainScreenTable();
    QImage out(b.width, b.height, QImage::Format_RGB32);
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            const uint16_t* p = b.row(y) + x * 3;
            out.setPixel(x, y, qRgb(table[p[0]], table[p[1]], table[p[2]]));
        }
    return out;
}

std::array<uint16_t, 3> samplesOf(const QString& tiff, QPoint p) {
    GflBitmap b;
    RecordingReporter rep;
    CargarGflBitmap(tiff, b, rep);
    const uint16_t* s = b.row(p.y()) + p.x() * 3;
    return {s[0], s[1], s[2]};
}

class ViewerTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        frmMain& w = *window;
        writeTiffSet(folder, {"IMG_1.tiff", "IMG_2.tiff", "IMG_3.tiff"},
                     {bandFrame(1), bandFrame(4), bandFrame(16)});
        w.ArchivosRAW = QStringList{"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2"};
        w.txtRuta->setText(folder + "IMG_1.CR2");
        ASSERT_EQ(w.MostrarTIFF(folder + "IMG_1.tiff"), 1);  // the RAW preview
        w.estado.ImagenMostrada = true;
        w.cmdEV->setEnabled(true);
    }
    // Calc EV, Build map and Colour: the box shows the output.
    void blend() {
        window->cmdEV->click();
        window->cmdBuildMap->click();
        window->cmdBlend->click();
        ASSERT_TRUE(window->pctImagen->showingResult());
        ASSERT_TRUE(boxes.empty()) << boxes[0].text.toStdString();
    }
    QString made(const char* pattern) const {
        return folder + QDir(folder).entryList({pattern}, QDir::Files, QDir::Time).value(0);
    }
    ViewerWindow& viewer() { return *window->viewer(); }
    ViewerCanvas& canvas() { return *viewer().canvas(); }
    void choose(const QString& label) {
        const int i = viewer().pictureList()->findText(label);
        ASSERT_GE(i, 0) << label.toStdString();
        emit viewer().pictureList()->activated(i);
        QCoreApplication::processEvents();  // what the notes need comes next
    }
    void hover(QPointF at) {
        QMouseEvent move(QEvent::MouseMove, at, canvas().mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&canvas(), &move);
    }
    void wheel(QPointF at, int notches) {
        QWheelEvent turn(at, canvas().mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                         Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&canvas(), &turn);
    }
    void key(Qt::Key k) { QTest::keyClick(&viewer(), k); }
    // A widget point over picture pixel p, or next to it: mouse events come in
    // whole logical pixels, two device pixels apart on a ratio of 2.
    QPoint over(QPoint p) {
        const QPointF near = canvas().placement().toDevice(QPointF(p) + QPointF(0.5, 0.5)) /
                             canvas().devicePixelRatioF();
        for (int dy : {0, -1, 1})
            for (int dx : {0, -1, 1}) {
                const QPoint at = near.toPoint() + QPoint(dx, dy);
                if (canvas().pixelAt(at) == p) return at;
            }
        return near.toPoint();
    }
    // Shows `label` at 100 % with picture pixel p (or its neighbour) under the
    // pointer; returns the pixel under it.
    QPoint at100(const QString& label, QPoint p) {
        choose(label);
        key(Qt::Key_0);
        hover(over(p));
        key(Qt::Key_1);
        hover(over(p));
        return canvas().pixelUnderPointer().value_or(QPoint(-1, -1));
    }
    QString readout() { return viewer().readout()->text(); }
    // The grabbed view's pixel under a widget point.
    QRgb shownAt(QPointF at) {
        const QPointF d = at * canvas().devicePixelRatioF();
        return canvas().grab().toImage().pixel(int(std::floor(d.x())), int(std::floor(d.y())));
    }
    void doubleClick(QWidget* box) {
        QTest::mousePress(box, Qt::LeftButton, {}, QPoint(40, 40));
        QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(40, 40));
        QTest::mouseDClick(box, Qt::LeftButton, {}, QPoint(40, 40));
        QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(40, 40));
    }

    QTemporaryDir dir;
    QString folder = dir.path() + "/";
};

TEST_F(ViewerTest, ADoubleClickOpensTheViewerOnWhatTheBoxShowsWithoutItsFirstClick) {
    frmMain& w = *window;
    blend();
    doubleClick(w.pctImagen);  // on a result the result stays
    EXPECT_TRUE(w.pctImagen->showingResult());
    ASSERT_TRUE(w.viewer() && viewer().isVisible());
    EXPECT_EQ(viewer().shownEntry()->kind, PictureKind::Output);
    EXPECT_EQ(viewer().windowTitle(),
              "Orrindale viewer \u2014 " + QFileInfo(made("OD_*.tif")).fileName());
    QTest::mouseClick(w.pctImagen, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_FALSE(w.pctImagen->showingResult());  // a single click puts it away at once
    // On the RAW preview the first click places no patch; a single click still does.
    doubleClick(w.pctImagen);
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    EXPECT_FALSE(w.estado.ParcheColocado);
    EXPECT_EQ(viewer().shownEntry()->kind, PictureKind::Preview);
    QTest::mouseClick(w.pctImagen, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_TRUE(waitFor([&] { return w.estado.ParcheColocado; }, 2000));

    // Its own window, at most 80 % of the screen, where it was when opened again.
    const QSize screen = w.screen()->availableGeometry().size();
    EXPECT_LE(viewer().width(), screen.width() * 0.8 + 1);
    EXPECT_LE(viewer().height(), screen.height() * 0.8 + 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    viewer().move(viewer().pos() + QPoint(7, 5));
    const QRect place = viewer().geometry();
    viewer().close();
    w.cmdView->click();
    EXPECT_EQ(viewer().geometry(), place);
    EXPECT_TRUE(boxes.empty());
    w.close();
    EXPECT_FALSE(viewer().isVisible());
}

TEST_F(ViewerTest, ACropAt100PercentIsTheFilesOwnPixelsOnAnyDevicePixelRatio) {
    blend();
    window->cmdView->click();
    const struct {
        const char* label;
        QString file;
        bool previewGamma;
    } pictures[] = {{"Output", made("OD_*.tif"), false},
                    {"RAW preview", folder + "IMG_1.tiff", true},
                    {"Map", window->txtRutaMap->text(), false}};
    const double ratio = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
    for (const auto& p : pictures) {
        SCOPED_TRACE(p.label);
        at100(p.label, QPoint(bandCentre(1) - 100, 500));
        EXPECT_EQ(viewer().zoomLabel()->text(), "100 %");
        const QImage view = canvas().grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(view.devicePixelRatio(), ratio);
        EXPECT_EQ(view.size(), canvas().size() * ratio);
        const QImage file = onScreen(p.file, p.previewGamma);
        // Device pixel (i, j) shows file pixel (x0 + i, y0 + j): one for one.
        const QPoint origin = canvas().placement().pixelAt(QPointF(0, 0));
        int compared = 0;
        for (int j = 0; j < view.height(); ++j)
            for (int i = 0; i < view.width(); ++i)
                if (file.valid(origin + QPoint(i, j))) {
                    ASSERT_EQ(view.pixel(i, j), file.pixel(origin + QPoint(i, j))) << i << "," << j;
                    ++compared;
                }
        EXPECT_EQ(compared, view.width() * view.height());  // the view is all picture
    }
}

// The 16-bit TIFF at gamma 2.2 of linear value v (1.0 = full scale), on screen.
int gamma22OnScreen(double v) {
    double encoded = encodeGamma(std::clamp(v, 0.0, 1.0) * 65535, inverseGamma(22));
    uint16_t s = 0;
    quantizeSamples(&encoded, 1, 1.0, &s);
    return screenValue(s);
}

TEST_F(ViewerTest, SceneLinearAndHdrOutputsShowAsThePreviewBoxDoesWithTheirOwnSamples) {
    frmMain& w = *window;
    w.cmdEV->click();
    w.cmdBuildMap->click();
    w.cmdView->click();
    for (const char* key : {"tiff-float", "exr", "exr-float", "avif-pq"}) {
        SCOPED_TRACE(key);
        const OutputFormat format = *formatFromKey(key);
        pick(w.cmbFormat, w.cmbFormat->findText(formatInfo(format).caption));
        const bool avif = format == OutputFormat::AvifPq;
        // Frames without a profile: the AVIF takes a B&W blend.
        (avif ? w.cmdBlendBW : w.cmdBlend)->click();
        ASSERT_TRUE(boxes.empty()) << boxes[0].text.toStdString();
        const QString output = w.setFiles().output.path;
        ASSERT_TRUE(output.endsWith(formatInfo(format).extension)) << output.toStdString();
        // The file's own values, read by its format's library.
        std::vector<double> values;
        if (avif) {
            const DecodedAvif d = decodeAvif(output);
            ASSERT_TRUE(d.ok);
            values.assign(d.codes.begin(), d.codes.end());
        } else {
            const std::vector<float> f =
                key[0] == 't' ? readFloatTiffPixels(output) : readExrPixels(output);
            values.assign(f.begin(), f.end());
        }
        ASSERT_EQ(values.size(), size_t(kWidth) * kHeight * 3);
        for (int b = 0; b < 3; ++b) {
            const QPoint p = at100("Output", QPoint(bandCentre(b), 300 + b));
            const double* v = values.data() + (size_t(p.y()) * kWidth + p.x()) * 3;
            const PictureSamples own{3, {v[0], v[1], v[2]}, !avif};
            EXPECT_EQ(readout(),
                      readoutLine(p, own, QString("from IMG_%1.tiff, 100 %").arg(b + 1)));
            // Float files as their 16-bit TIFF at gamma 2.2; the AVIF's SDR part.
            double linear[3];
            for (int c = 0; c < 3; ++c)
                linear[c] = avif ? nitsFromPq(v[c] / 1023) / kSdrWhiteNits : v[c];
            if (avif) {
                const double r = linear[0], g = linear[1], bl = linear[2];
                linear[0] = 1.660491 * r - 0.587641 * g - 0.072850 * bl;
                linear[1] = -0.124550 * r + 1.132900 * g - 0.008349 * bl;
                linear[2] = -0.018151 * r - 0.100579 * g + 1.118730 * bl;
            }
            const QRgb shown = shownAt(over(p));
            const int channel[3] = {qRed(shown), qGreen(shown), qBlue(shown)};
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(channel[c], gamma22OnScreen(linear[c]), avif ? 1 : 0);
            // The frame the pixel came from tells the output's linear values there.
            ASSERT_EQ(at100(QString("Image %1").arg(b + 1), p), p);
            const QString note = readout().section(QString::fromUtf8(" \u00b7 as output "), 1);
            if (avif) {
                EXPECT_TRUE(note.isEmpty()) << readout().toStdString();
                continue;
            }
            const QStringList told = note.split(' ');
            ASSERT_EQ(told.size(), 3) << readout().toStdString();
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(told[c].toDouble(), v[c], 1e-3 * v[c] + 1e-4);
            const QRgb frame = shownAt(over(p));
            EXPECT_NEAR(qGreen(frame), channel[1], 1);
        }
    }
}

TEST_F(ViewerTest, ZoomKeysAndTheWheelKeepThePixelUnderThePointer) {
    blend();
    window->cmdView->click();
    // Small enough for the picture at 50 % to fill it on a ratio of 2 too.
    viewer().resize(300, 260);
    QCoreApplication::processEvents();
    const QPoint target(bandCentre(1) + 33, 611);
    const struct {
        const char* what;
        std::function<void(QPointF)> act;
        double scale;
    } zooms[] = {{"key 2", [&](QPointF) { key(Qt::Key_2); }, 2},
                 {"key 4", [&](QPointF) { key(Qt::Key_4); }, 4},
                 {"key 5", [&](QPointF) { key(Qt::Key_5); }, 0.5},
                 {"wheel in", [&](QPointF at) { wheel(at, 1); }, std::exp2(0.25)},
                 {"wheel out 2", [&](QPointF at) { wheel(at, -2); }, std::exp2(-0.5)}};
    for (const auto& z : zooms) {
        SCOPED_TRACE(z.what);
        at100("Output", target);
        const QPointF pointer =
            over(target) + QPointF(-0.3 * canvas().width(), 0.1 * canvas().height());
        hover(pointer);
        const std::optional<QPoint> under = canvas().pixelAt(pointer);
        ASSERT_TRUE(under);
        z.act(pointer);
        EXPECT_DOUBLE_EQ(canvas().placement().scale, z.scale);
        EXPECT_EQ(canvas().pixelAt(pointer), under);
    }
    // 1 brings the pixel under the pointer to the middle; away from the
    // picture it keeps the middle; 0 fits.
    key(Qt::Key_5);
    const QPointF middle(canvas().width() / 2.0, canvas().height() / 2.0);
    const QPointF pointer = middle + QPointF(37, -21);
    hover(pointer);
    const std::optional<QPoint> under = canvas().pixelAt(pointer);
    key(Qt::Key_1);
    EXPECT_EQ(canvas().pixelAt(middle), under);
    hover(QPointF(-5, -5));
    key(Qt::Key_2);
    EXPECT_EQ(canvas().pixelAt(middle), under);
    key(Qt::Key_0);
    EXPECT_TRUE(canvas().fitting());
    EXPECT_EQ(viewer().zoomLabel()->text().left(4), "Fit ");
}

TEST_F(ViewerTest, TheReadOutTellsTheSamplesAndTheImageTheMapChose) {
    window->cmdEV->click();
    window->cmdBuildMap->click();
    window->cmdView->click();
    // In colour, then in B&W: the frames follow the output's mix too.
    for (QPushButton* button : {window->cmdBlend, window->cmdBlendBW})
        for (int b = 0; b < 3; ++b) {
            if (b == 0) button->click();
            const QString output = window->setFiles().output.path;
            const QString from = QString(" \u00b7 from IMG_%1.tiff, 100 %").arg(b + 1);
            const QPoint p = at100("Output", QPoint(bandCentre(b), 400 + b));
            const auto s = samplesOf(output, p);
            const QString at = QString("x %1 y %2 \u00b7 ").arg(p.x()).arg(p.y());
            EXPECT_EQ(readout(), at + QString("%1 %2 %3").arg(s[0]).arg(s[1]).arg(s[2]) + from);
            // The frame the pixel came from, brought to the output, is the output there.
            ASSERT_EQ(at100(QString("Image %1").arg(b + 1), p), p);
            const auto f = samplesOf(folder + QString("IMG_%1.tiff").arg(b + 1), p);
            EXPECT_EQ(readout(), at + QString("%1 %2 %3 \u00b7 as output %4 %5 %6")
                                          .arg(f[0])
                                          .arg(f[1])
                                          .arg(f[2])
                                          .arg(s[0])
                                          .arg(s[1])
                                          .arg(s[2]));
            EXPECT_EQ(shownAt(over(p)), onScreen(output).pixel(p));
            at100("Map", p);
            EXPECT_TRUE(readout().endsWith(from)) << readout().toStdString();
        }
    // Across the border of bands 1 and 2 the blend mixes the two: the larger share.
    at100("Output", QPoint(kWidth / 3, 400));
    int mixed = 0;
    for (int x = kWidth / 3 - 4; x < kWidth / 3 + 12; ++x) {
        hover(over(QPoint(x, 400)));  // every other pixel on a ratio of 2
        const auto m = QRegularExpression(" \u00b7 from IMG_[12].tiff, (\\d+) %$").match(readout());
        ASSERT_TRUE(m.hasMatch()) << readout().toStdString();
        const int share = m.captured(1).toInt();
        EXPECT_GE(share, 50);
        mixed += share < 100;
    }
    EXPECT_GT(mixed, 0);
}

TEST_F(ViewerTest, BFlipsBetweenTwoPicturesAtTheSamePlace) {
    blend();
    window->cmdView->click();
    at100("Output", QPoint(bandCentre(2), 300));
    key(Qt::Key_2);
    const ViewPlacement place = canvas().placement();
    const std::pair<const char*, const char*> flips[] = {{"Image 3", "Output"}, {"Map", "Image 3"}};
    for (const auto& [chosen, before] : flips) {
        choose(chosen);
        for (const char* expected : {before, chosen}) {
            key(Qt::Key_B);
            EXPECT_EQ(viewer().pictureList()->currentText(), expected);
            EXPECT_EQ(canvas().placement().scale, place.scale);
            EXPECT_EQ(canvas().placement().origin, place.origin);
        }
    }
}

TEST_F(ViewerTest, TheListOffersWhatTheSetHas) {
    frmMain& w = *window;
    w.cmdView->click();
    auto listed = [&] {
        QStringList labels;
        for (int i = 0; i < viewer().pictureList()->count(); ++i)
            labels << viewer().pictureList()->itemText(i);
        return labels.join(", ");
    };
    EXPECT_EQ(listed(), "RAW preview");
    const struct {
        QPushButton* button;
        bool deghost;
        const char* list;
    } steps[] = {
        {w.cmdEV, false, "Image 1, Image 2, Image 3, RAW preview, Histogram"},
        {w.cmdBuildMap, false, "Map, Image 1, Image 2, Image 3, RAW preview, Histogram"},
        {w.cmdBlend, false, "Output, Map, Image 1, Image 2, Image 3, RAW preview, Histogram"},
        {w.cmdTestBW, false,
         "Output, Map, Image 1, Image 2, Image 3, RAW preview, Histogram, Contact sheet"},
        // Moving areas belong to the map they were found with.
        {w.cmdBuildMap, true,
         "Output, Map, Moving areas, Image 1, Image 2, Image 3, RAW preview, Histogram, "
         "Contact sheet"},
        {w.cmdBuildMap, false,
         "Output, Map, Image 1, Image 2, Image 3, RAW preview, Histogram, Contact sheet"}};
    for (const auto& step : steps) {
        w.chkDeghost->setChecked(step.deghost);
        step.button->click();
        EXPECT_EQ(listed(), step.list);
    }
}

TEST_F(ViewerTest, AFileRemovedOrReplacedKeepsWhatWasRead) {
    blend();
    window->cmdView->click();
    const QPoint p(bandCentre(0), 700);
    const struct {
        const char* label;
        QString file;
        bool replaced;
    } changes[] = {{"Output", made("OD_*.tif"), false}, {"Map", window->txtRutaMap->text(), true}};
    for (const auto& c : changes) {
        SCOPED_TRACE(c.label);
        at100(c.label, p);
        const QImage before = canvas().grab().toImage();
        const QString line = readout();
        choose("Image 2");
        QFile::remove(c.file);
        if (c.replaced) QFile::copy(made("His_*.gif"), c.file);
        choose(c.label);
        hover(over(p));
        EXPECT_EQ(canvas().grab().toImage(), before);
        EXPECT_EQ(readout(), line + " \u00b7 file changed or missing");
        hover(QPointF(-5, -5));
        EXPECT_EQ(readout(), "file changed or missing");
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ViewerTest, APictureBeingWrittenWaitsForTheOperationThatWritesIt) {
    blend();
    window->cmdView->click();
    choose("Output");
    const QString first = made("OD_*.tif");
    // The user asks for the output while the next blend writes it.
    QString during;
    QTimer::singleShot(0, [&] {
        choose("Output");
        during = readout();
    });
    window->cmdBlendBW->click();
    EXPECT_EQ(during, "waiting for the running operation to end");
    const QString second = made("OD_BW_*.tif");
    ASSERT_NE(first, second);
    EXPECT_EQ(viewer().windowTitle(), "Orrindale viewer \u2014 " + QFileInfo(second).fileName());
    ASSERT_TRUE(canvas().picture());
    key(Qt::Key_0);
    hover(QPointF(canvas().width() / 2.0, canvas().height() / 2.0));
    EXPECT_TRUE(readout().startsWith("x ")) << readout().toStdString();
}

}  // namespace
