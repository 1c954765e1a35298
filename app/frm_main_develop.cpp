// The four kinds of dcraw run, their timers and completions, Develop, the
// highlight-recovery toggle and Calc WB.
#include "app/busy_scope.h"
#include "app/dcraw_log_window.h"
#include "app/frm_main.h"
#include "develop/raw_set.h"
#include "support/paths.h"

#include <QApplication>
#include <algorithm>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

DecoderLauncher& frmMain::launcher() {
    if (!hooks_.launcher) hooks_.launcher = std::make_shared<DetachedLauncher>();
    return *hooks_.launcher;
}

bool frmMain::withinLengthLimit(qsizetype length, QTimer* timer) {
    if (length <= kLongitudMaximaComando) return true;
    // No run of this kind is under way now: an earlier one's result would no
    // longer match the reference, its files or the settings.
    timer->stop();
    AvisarLongitudComando(static_cast<int>(length) - kLongitudMaximaComando, reporter_);
    return false;
}

DcrawRun frmMain::startDecoder(const QString& line, const QStringList& extra, const QString& tiff,
                               const QString& rawPath, QTimer* timer, bool visible) {
    DcrawRun run = launcher().start(hooks_.rutaDCRAW, dcrawArguments(line, hooks_.rutaDCRAW) + extra);
    run.tiff = tiff;
    run.rawName = NombreArchivo(rawPath);
    if (visible) dcrawLog_->follow(run);
    timer->start();
    return run;
}

QString frmMain::quickLine() const {
    return ConstruirComandoDCRAW(readSettings(), true, false, hooks_.rutaDCRAW);
}

void frmMain::ReveladoRapido(const QString& ruta, bool neutro) {
    try {
        if (!ExisteArchivo(hooks_.rutaDCRAW)) {
            AvisarDCRAWNoEncontrado(reporter_, hooks_.rutaDCRAW);
            return;
        }
        if (!ExisteArchivo(ruta)) {
            reporter_.EscribirEstado(NombreArchivo(ruta) + QStringLiteral(" not found."), true);
            reporter_.EscribirEstado(QStringLiteral("DONE"), true);
            return;
        }
        reporter_.EscribirEstado(
            QStringLiteral("Quick developing ") + NombreArchivo(ruta) + QStringLiteral("..."), false);
        const QString tiff = tiffDeRaw(ruta);
        if (ExisteArchivo(tiff)) QFile::remove(tiff);
        const QString line = ConstruirComandoDCRAW(readSettings(), true, neutro, hooks_.rutaDCRAW);
        if (!neutro) reporter_.MostrarComando(line);
        const QString complete = line + QLatin1Char(' ') + pathForCommandLine(ruta);
        QTimer* timer = neutro ? timReveladoRapidoNeutro : timReveladoRapido;
        if (!withinLengthLimit(complete.size(), timer)) return;
        (neutro ? runRapidoNeutro_ : runRapido_) =
            startDecoder(line, {ruta}, tiff, ruta, timer, false);
    } catch (...) {
        reporter_.InformarError(QStringLiteral("ReveladoRapido"));
    }
    reporter_.processEvents();
}

void frmMain::Revelado(const QString& ruta) {
    try {
        if (!ExisteArchivo(hooks_.rutaDCRAW)) {
            AvisarDCRAWNoEncontrado(reporter_, hooks_.rutaDCRAW);
            return;
        }
        const int n = static_cast<int>(ArchivosRAW.size());
        reporter_.EscribirEstado(QString::number(n) + QStringLiteral(" RAW files selected in path"),
                                 false);
        NumRevelados = 0;
        UltimoRevelado = 0;
        const QString folder = CarpetaArchivo(ruta);
        QStringList paths;
        for (int i = 1; i <= n; ++i) {
            const QString p = folder + ArchivosRAW[i - 1];
            if (!ExisteArchivo(p)) {
                reporter_.EscribirEstado(QStringLiteral("file ") + ArchivosRAW[i - 1] +
                                             QStringLiteral(" not found. Skipped"),
                                         true);
                continue;
            }
            const QString tiff = tiffDeRaw(p);
            if (ExisteArchivo(tiff)) QFile::remove(tiff);
            paths << p;
            ++NumRevelados;
            UltimoRevelado = static_cast<int16_t>(i);
        }
        reporter_.EscribirEstado(QString::number(NumRevelados) + QStringLiteral(" RAW files found now"),
                                 true);
        if (NumRevelados < 1) {
            reporter_.EscribirEstado(QStringLiteral("\r\nNot files to develop"), true);
            reporter_.EscribirEstado(QStringLiteral("DONE"), true);
            reporter_.beep();
            return;
        }
        const QString line = ConstruirComandoDCRAW(readSettings(), false, false, hooks_.rutaDCRAW);
        // The files go to dcraw as separate arguments, so no shell line joins
        // them; the limit holds for each file's own line, as for a quick run.
        // (Joined, five paths of 15 characters would already break it.)
        qsizetype longest = 0;
        for (const QString& p : paths)
            longest = std::max(longest, line.size() + 1 + pathForCommandLine(p).size());
        if (!withinLengthLimit(longest, timRevelado)) return;
        reporter_.EscribirEstado(QStringLiteral("\r\nDeveloping ") + QString::number(NumRevelados) +
                                     QStringLiteral(" RAW files..."),
                                 true);
        reporter_.EscribirEstado(QStringLiteral("PLEASE WAIT"), true);
        // dcraw writes its files in command-line order: the last one ends the run.
        runRevelado_ =
            startDecoder(line, paths, tiffDeRaw(paths.back()), paths.back(), timRevelado, true);
    } catch (...) {
        reporter_.InformarError(QStringLiteral("Revelado"));
    }
    reporter_.processEvents();
}

void frmMain::reportFailedRun(QTimer* timer, const DcrawRun& run) {
    timer->stop();
    if (dcrawLog_->isVisible()) dcrawLog_->finish();
    const QString last = lastMessageLine(run);
    QString text = QStringLiteral("DCRAW could not develop ") + run.rawName;
    reporter_.EscribirEstado(text, true);
    if (!last.isEmpty()) {
        reporter_.EscribirEstado(last, true);
        text += QStringLiteral("\r\n") + last;
    }
    reporter_.EscribirEstado(QStringLiteral("DONE"), true);
    reporter_.MostrarError(text);
}

bool frmMain::runComplete(const DcrawRun& run, QTimer* timer) {
    if (busy()) return false;  // the next tick tries again
    const RunState state = checkRun(run, launcher());
    if (state == RunState::Failed) reportFailedRun(timer, run);
    return state == RunState::Complete;
}

bool frmMain::measurePatch(const QString& ruta) {
    std::array<QString, 3> texts;
    for (int i = 0; i < 3; ++i) texts[static_cast<size_t>(i)] = txtWB[i]->text();
    if (CalcularWBPatch(ruta, patch, estado.ParcheCuadrado, texts, reporter_) == -1) return false;
    for (int i = 0; i < 3; ++i) txtWB[i]->setText(texts[static_cast<size_t>(i)]);
    return true;
}

void frmMain::ComprobarReveladoRapidoNeutro(const QString& ruta) {
    try {
        if (!runComplete(runRapidoNeutro_, timReveladoRapidoNeutro)) return;
        timReveladoRapidoNeutro->stop();
        BusyScope busy(*this);
        reporter_.EscribirEstado(NombreArchivo(ruta) + QStringLiteral(" neutral developed"), true);
        reporter_.EscribirEstado(QStringLiteral("DONE"), true);
        if (!measurePatch(ruta)) return;
        ReveladoRapido(ruta, false);
    } catch (...) {
        // A completion reports nothing of its own; a live timer ticks again.
    }
}

void frmMain::ComprobarReveladoRapido(const QString& ruta) {
    try {
        if (!runComplete(runRapido_, timReveladoRapido)) return;
        if (MostrarTIFF(runRapido_.tiff) != 1) {
            // A whole file that cannot be shown will not get better once
            // the decoder has gone.
            if (launcher().ended(runRapido_)) reportFailedRun(timReveladoRapido, runRapido_);
            return;
        }
        timReveladoRapido->stop();
        reporter_.EscribirEstado(NombreArchivo(ruta) + QStringLiteral(" developed and displayed"),
                                 true);
        estado.ImagenMostrada = true;
        cmdDevelop->setEnabled(true);
        cmdCopyClipBoard->setEnabled(true);
        reporter_.EscribirEstado(QStringLiteral("DONE"), true);
        reporter_.beep();
    } catch (...) {
    }
    reporter_.processEvents();
}

void frmMain::cmdDevelop_Click() {
    if (busy()) return;
    for (QPushButton* b : {cmdEV, cmdBuildMap, cmdBlend, cmdBlendBW, cmdTestBW}) b->setEnabled(false);
    Revelado(txtRuta->text());
}

void frmMain::chkHLRecovery_Click() {
    for (QPushButton* b : {cmdEV, cmdBuildMap, cmdBlend, cmdBlendBW, cmdTestBW}) b->setEnabled(false);
    if (!estado.AvisoHLMostrado) {
        reporter_.MostrarAviso(QStringLiteral(
            "Highlight recovery activated. This option will preserve ALL the highlights "
            "information from the RAW files and as a consequence it will produce a bit darker "
            "image. Use together with output ETTR recommended\r\n\r\n(This message will not pop up "
            "again during this session)"));
        estado.AvisoHLMostrado = true;
    }
}

void frmMain::cmdCalculateWB_Click() {
    if (!estado.ParcheColocado || busy()) return;
    disableSix();
    const QString ruta = txtRuta->text();
    if (ConstruirComandoDCRAW(readSettings(), true, true, hooks_.rutaDCRAW) != lblDCRAW->text()) {
        ReveladoRapido(ruta, true);
        return;
    }
    // The TIFF on disk already is a neutral development.
    BusyScope busy(*this);
    if (!measurePatch(ruta)) return;
    ReveladoRapido(ruta, false);
}
