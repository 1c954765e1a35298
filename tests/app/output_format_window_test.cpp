// The "Output format" list of the Image blending frame: its items, the gamma
// bar it greys with a tooltip saying why, its place, and a blend through it.
#include "app/preview_box.h"
#include "pipeline/output_formats.h"
#include "tests/app/window_fixture.h"
#include "tests/common/blend_reference.h"
#include "tests/common/exposure_sets.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <cmath>

namespace {

using OutputFormatWindowTest = WindowTest;

TEST_F(OutputFormatWindowTest, OnlyTheSixteenBitTiffTakesTheGammaBar) {
    frmMain& w = *window;
    QWidget* gamma[] = {w.Label13, w.hscGamma, w.lblGamma};
    QStringList tiffTips;
    for (QWidget* c : gamma) tiffTips << c->toolTip();
    ASSERT_EQ(w.cmbFormat->count(), static_cast<int>(outputFormats().size()));
    // Each item in turn, and the 16-bit TIFF (the default) again last.
    for (int i : {0, 1, 2, 3, 4, 0}) {
        const OutputFormatInfo& f = outputFormats()[static_cast<size_t>(i)];
        EXPECT_EQ(w.cmbFormat->itemText(i), QLatin1String(f.caption));
        pick(w.cmbFormat, i);
        EXPECT_TRUE(w.readBlendSettings(false).format == f.format);
        for (qsizetype k = 0; k < 3; ++k) {
            EXPECT_EQ(gamma[k]->isEnabled(), i == 0) << f.key;
            EXPECT_TRUE(i == 0 ? gamma[k]->toolTip() == tiffTips[k]
                               : gamma[k]->toolTip().contains("16-bit TIFF"));
        }
    }
    // The list has a place of its own inside the frame.
    EXPECT_TRUE(w.frmBlend->contentsRect().contains(w.cmbFormat->geometry()));
    for (QWidget* c : w.frmBlend->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(c == w.cmbFormat || !c->geometry().intersects(w.cmbFormat->geometry()))
            << c->objectName().toStdString();
}

TEST_F(OutputFormatWindowTest, ABlendWrittenAsOpenExrIsShownInThePreview) {
    frmMain& w = *window;
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    std::vector<GflBitmap> frames;
    for (int i = 0; i < 3; ++i)
        frames.push_back(bracketFrame(48, 32, 4.0 * std::pow(4.0, i), 3 + i));
    w.imagenes = diskSet(folder, frames);
    w.estado.ImagenMostrada = true;
    w.txtRuta->setText(folder + "IMG_1.CR2");
    w.cmdBuildMap->setEnabled(true);
    w.cmdBuildMap->click();
    pick(w.cmbFormat, w.cmbFormat->findText("OpenEXR half"));
    w.cmdBlend->click();
    const QStringList out = QDir(folder).entryList({"OD_*"}, QDir::Files);
    ASSERT_EQ(out.size(), 1) << w.statusText().toStdString();
    EXPECT_TRUE(QRegularExpression("^OD_\\d{6}_sRGB_linear\\.exr$").match(out[0]).hasMatch())
        << out[0].toStdString();
    EXPECT_TRUE(logLines().contains("Saving image as " + out[0]));
    EXPECT_TRUE(w.pctImagen->showingResult());
    EXPECT_EQ(w.pctImagen->caption(), "Output: " + out[0]);
}

}  // namespace
