// "Build map", the choice of another map file, the two blends and the B&W
// contact sheet.
#include "app/busy_scope.h"
#include "app/frm_main.h"
#include "pipeline/output_formats.h"
#include "pipeline/set_pipeline.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

SetSettings frmMain::readSetSettings(bool blancoNegro) const {
    SetSettings s = defaultSettings();
    s.develop = readSettings();
    s.hlRecovery = chkHLRecovery->isChecked();
    s.decoder = decoderSetting();
    s.metodoMedia = estado.MetodoMedia;
    s.align.alinear = chkAlign->isChecked();
    s.map.umbral = hscTH->value();
    s.map.antiGhost = hscAntiGhost->value();
    s.map.progressive = hscProgressive->value();
    s.map.deghost = chkDeghost->isChecked();
    s.mapFile = txtRutaMap->text();
    s.blend.merge = chkWeighted->isChecked() ? BlendMerge::Weighted : BlendMerge::Select;
    s.blend.blancoNegro = blancoNegro;
    s.blend.pesoRojo = hscBWR->value();
    s.blend.pesoAzul = hscBWB->value();
    s.blend.gamma = hscGamma->value();
    s.gammaChosen = true;  // the bar, which choosing a profile has moved
    s.blend.ettr = chkETTR->isChecked();
    s.blend.numBracketing = estado.NumBracketing;
    if (cmbFormat->currentIndex() >= 0)
        s.blend.format = outputFormats()[static_cast<size_t>(cmbFormat->currentIndex())].format;
    s.blend.evBracketing = estado.EVBracketing;
    deriveSettings(s);
    return s;
}

MapSettings frmMain::readMapSettings() const { return readSetSettings().map; }

void frmMain::cmdBuildMap_Click() {
    if (!estado.ImagenMostrada || busy()) return;
    BusyScope busy(*this);
    for (QPushButton* b : {cmdBlend, cmdBlendBW, cmdTestBW}) b->setEnabled(false);
    const StageOutcome built =
        SetPipeline(imagenes, reporter_).buildMap(txtRuta->text(), readSetSettings());
    if (built.ok()) txtRutaMap->setText(built.files.value(0));
    showLatestResult();
    // However the build ended: a map may also come from "...".
    for (QPushButton* b : {cmdBlend, cmdBlendBW, cmdTestBW}) b->setEnabled(true);
}

void frmMain::cmdSelMap_Click() {
    if (busy()) return;  // a blend reads the path it started with
    try {
        const QString chosen =
            hooks_.openFile ? hooks_.openFile(QStringLiteral("Set blending map file and pathname"),
                                              QStringLiteral("Map PNG files (*.png)"))
                            : QString();
        if (!chosen.isEmpty() && chosen != txtRutaMap->text()) txtRutaMap->setText(chosen);
    } catch (...) {
        reporter_.InformarError(QStringLiteral("cmdSelMap"));
    }
}

void frmMain::cmbFormat_Click() {
    const BlendSettings chosen = readBlendSettings(false);
    const bool gamma = formatUsesGamma(chosen.format);
    const QString why = QStringLiteral(
        "The output gamma shapes the 16-bit TIFF only: float TIFF and OpenEXR files hold "
        "scene-linear values, the HDR AVIF is encoded with the PQ curve");
    for (QWidget* w : {static_cast<QWidget*>(Label13), static_cast<QWidget*>(hscGamma),
                       static_cast<QWidget*>(lblGamma)}) {
        // Each keeps its own tooltip for the 16-bit TIFF; the bar keeps its
        // value, which the profile still moves.
        if (!w->property("tiffTip").isValid()) w->setProperty("tiffTip", w->toolTip());
        w->setEnabled(gamma);
        w->setToolTip(gamma ? w->property("tiffTip").toString() : why);
    }
}

BlendSettings frmMain::readBlendSettings(bool blancoNegro) const {
    return readSetSettings(blancoNegro).blend;
}

void frmMain::blend(bool blancoNegro) {
    // The window runs at every status line: nothing else may start meanwhile.
    if (busy()) return;
    BusyScope busy(*this);
    SetPipeline(imagenes, reporter_).blend(txtRuta->text(), readSetSettings(blancoNegro));
    showLatestResult();
}

void frmMain::cmdBlend_Click() { blend(false); }
void frmMain::cmdBlendBW_Click() { blend(true); }

void frmMain::cmdTestBW_Click() {
    if (busy()) return;
    BusyScope busy(*this);
    SetPipeline(imagenes, reporter_).contactSheet(txtRuta->text(), txtRutaMap->text());
    showLatestResult();
}
