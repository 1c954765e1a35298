// The full-development completion (with the highlight-recovery re-run that
// needs the set sorted), the highlight-recovery run, and "Calc EV".
#include "app/busy_scope.h"
#include "app/dcraw_log_window.h"
#include "app/frm_main.h"
#include "develop/raw_set.h"
#include "exposure/exposure.h"
#include "support/paths.h"

#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

void frmMain::finishDevelopment(QTimer* timer) {
    timer->stop();
    dcrawLog_->finish();
    activateWindow();
    if (NumRevelados > 1) cmdEV->setEnabled(true);
    reporter_.EscribirEstado(QStringLiteral("DONE"), true);
    showCommandLine(quickLine());
    reporter_.beep();
}

void frmMain::ComprobarRevelado(const QString& ruta) {
    try {
        if (!runComplete(runRevelado_, timRevelado)) return;
        if (!chkHLRecovery->isChecked()) return finishDevelopment(timRevelado);
        timRevelado->stop();
        dcrawLog_->finish();
        activateWindow();
        BusyScope busy(*this);
        reporter_.EscribirEstado(QStringLiteral("\r\nWaiting to save last TIFF..."), true);
        reporter_.pause(hooks_.highlightWaitMs);
        reporter_.EscribirEstado(QStringLiteral("DONE"), true);
        if (CargarTIFFs(ruta, ArchivosRAW, imagenes, reporter_) <= 1) return;
        imagenes.TIFFMenosExpuesto.clear();
        OrdenarPorExposicion(false, imagenes, reporter_);
        if (imagenes.TIFFMenosExpuesto.isEmpty()) return;  // the sort failed and said why
        ReveladoHLRecovery(ruta);
    } catch (...) {
    }
}

void frmMain::ReveladoHLRecovery(const QString& ruta) {
    try {
        if (!ExisteArchivo(hooks_.rutaDCRAW)) {
            AvisarDCRAWNoEncontrado(reporter_, hooks_.rutaDCRAW);
            return;
        }
        const QString least = imagenes.TIFFMenosExpuesto;
        if (ExisteArchivo(least)) QFile::remove(least);
        // The RAW file that produced the least exposed TIFF, named as it is on
        // disk (letter case included).
        QString raw = QuitarExtension(least) + QLatin1Char('.') + ExtensionArchivo(ruta);
        const QString folder = CarpetaArchivo(ruta);
        for (const QString& name : ArchivosRAW)
            if (tiffDeRaw(folder + name) == least) raw = folder + name;
        const QString line = ConstruirComandoDCRAW(readSettings(), false, false, hooks_.rutaDCRAW);
        const QString complete = line + QStringLiteral(" -H 2 ") + pathForCommandLine(raw);
        if (!withinLengthLimit(complete.size(), timReveladoHLRecovery)) return;
        reporter_.EscribirEstado(QStringLiteral("\r\nHighlight recovery on ") + NombreArchivo(raw) +
                                     QStringLiteral("..."),
                                 true);
        runHLRecovery_ = startDecoder(line, {QStringLiteral("-H"), QStringLiteral("2"), raw},
                                      tiffDeRaw(least), raw, timReveladoHLRecovery, true);
    } catch (...) {
        reporter_.InformarError(QStringLiteral("ReveladoHLRecovery"));
    }
    reporter_.processEvents();
}

void frmMain::ComprobarReveladoHLRecovery() {
    try {
        if (!runComplete(runHLRecovery_, timReveladoHLRecovery)) return;
        finishDevelopment(timReveladoHLRecovery);
    } catch (...) {
    }
}

void frmMain::cmdEV_Click() {
    if (!estado.ImagenMostrada || busy()) return;
    BusyScope busy(*this);
    for (QPushButton* b : {cmdBuildMap, cmdBlend, cmdBlendBW, cmdTestBW}) b->setEnabled(false);
    if (calcularEV(txtRuta->text(), ArchivosRAW, estado.MetodoMedia, imagenes, reporter_) != -1)
        cmdBuildMap->setEnabled(true);
}

void frmMain::cmdEVMethod_Click() {
    cmdEVMethod->setText(cmdEVMethod->text() == QStringLiteral("A") ? QStringLiteral("M")
                                                                     : QStringLiteral("A"));
    estado.MetodoMedia = !estado.MetodoMedia;
}
