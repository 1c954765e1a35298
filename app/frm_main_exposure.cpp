// "Calc EV" and its method button.
#include "app/busy_scope.h"
#include "align/align.h"
#include "app/frm_main.h"
#include "pipeline/calc_ev.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

void frmMain::cmdEV_Click() {
    if (!estado.ImagenMostrada || busy()) return;
    BusyScope busy(*this);
    for (QPushButton* b : {cmdBuildMap, cmdBlend, cmdBlendBW, cmdTestBW}) b->setEnabled(false);
    AlignSettings align;
    align.alinear = chkAlign->isChecked();
    if (calcularEV(txtRuta->text(), ArchivosRAW, estado.MetodoMedia, align, imagenes, reporter_) !=
        -1)
        cmdBuildMap->setEnabled(true);
    showLatestResult();
}

void frmMain::cmdEVMethod_Click() {
    cmdEVMethod->setText(cmdEVMethod->text() == QStringLiteral("A") ? QStringLiteral("M")
                                                                     : QStringLiteral("A"));
    estado.MetodoMedia = !estado.MetodoMedia;
}
