// "Calc EV" and its method button.
#include "app/busy_scope.h"
#include "app/frm_main.h"
#include "pipeline/set_pipeline.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

void frmMain::cmdEV_Click() {
    if (!estado.ImagenMostrada || busy()) return;
    BusyScope busy(*this);
    for (QPushButton* b : {cmdBuildMap, cmdBlend, cmdBlendBW, cmdTestBW}) b->setEnabled(false);
    if (SetPipeline(imagenes, reporter_).measure(txtRuta->text(), ArchivosRAW, readSetSettings()).ok())
        cmdBuildMap->setEnabled(true);
    showLatestResult();
}

void frmMain::cmdEVMethod_Click() {
    cmdEVMethod->setText(cmdEVMethod->text() == QStringLiteral("A") ? QStringLiteral("M")
                                                                     : QStringLiteral("A"));
    estado.MetodoMedia = !estado.MetodoMedia;
}
