// "Build map" and the choice of another map file.
#include "app/busy_scope.h"
#include "app/frm_main.h"
#include "develop/dcraw_command.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

MapSettings frmMain::readMapSettings() const {
    MapSettings s;
    s.umbral = hscTH->value();
    s.balanceCamara = optWB[kWBCamara]->isChecked();
    for (int i = 0; i < 3; ++i) s.txtWB[static_cast<size_t>(i)] = txtWB[i]->text();
    s.antiGhost = hscAntiGhost->value();
    s.progressive = hscProgressive->value();
    return s;
}

void frmMain::cmdBuildMap_Click() {
    if (!estado.ImagenMostrada || busy()) return;
    BusyScope busy(*this);
    for (QPushButton* b : {cmdBlend, cmdBlendBW, cmdTestBW}) b->setEnabled(false);
    const QString path = GenerarMapa(txtRuta->text(), readMapSettings(), imagenes, reporter_);
    if (!path.isEmpty()) txtRutaMap->setText(path);
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
