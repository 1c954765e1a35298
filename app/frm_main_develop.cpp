// The quick runs with their timers and completions, the window's side of the
// full development (its work lives in FullDevelopment), Develop, the
// highlight-recovery toggle and Calc WB.
#include "app/busy_scope.h"
#include "app/dcraw_log_window.h"
#include "app/frm_main.h"
#include "develop/raw_set.h"
#include "pipeline/set_pipeline.h"
#include "support/paths.h"

#include <QApplication>
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

DcrawRun frmMain::startDecoder(const Decoder& decoder, const QStringList& arguments,
                               const QString& tiff, const QString& rawPath, QTimer* timer) {
    DcrawRun run = startRun(launcher(), decoder, arguments, tiff, rawPath);
    timer->start();
    return run;
}

DecoderChoice frmMain::decoderFor(const QString& ruta) {
    QStringList raws;
    if (ruta.contains(QLatin1Char('/'))) {
        const QString folder = CarpetaArchivo(ruta);
        for (const QString& name : ArchivosRAW) raws << folder + name;
        raws << ruta;  // passed over when it is one of the set
    }
    return chooseDecoder(decoderSetting(), decoderPaths(), raws, launcher());
}

QString frmMain::quickLine() {
    return ConstruirComandoDCRAW(readSettings(), true, false, decoderFor(txtRuta->text()).decoder);
}

void frmMain::ReveladoRapido(const QString& ruta, bool neutro) {
    try {
        if (!decoderInstalled(decoderSetting(), decoderPaths(), reporter_)) return;
        if (!ExisteArchivo(ruta)) {
            reporter_.EscribirEstado(NombreArchivo(ruta) + QStringLiteral(" not found."), true);
            reporter_.EscribirEstado(QStringLiteral("DONE"), true);
            return;
        }
        reporter_.EscribirEstado(
            QStringLiteral("Quick developing ") + NombreArchivo(ruta) + QStringLiteral("..."), false);
        QTimer* timer = neutro ? timReveladoRapidoNeutro : timReveladoRapido;
        const DecoderChoice choice = decoderFor(ruta);
        if (!reportDecoderChoice(choice, reporter_)) {
            // As for a line over the limit: no run of this kind is under way.
            timer->stop();
            return;
        }
        const Decoder& decoder = choice.decoder;
        const QString tiff = tiffDeRaw(ruta);
        if (ExisteArchivo(tiff)) QFile::remove(tiff);
        const QStringList options = opcionesDCRAW(readSettings(), true, neutro);
        if (!neutro) reporter_.MostrarComando(decoder.commandLine(options));
        if (!withinLengthLimit(decoder.commandLine(options, {ruta}).size(), timer)) return;
        (neutro ? runRapidoNeutro_ : runRapido_) =
            startDecoder(decoder, decoder.arguments(options, {ruta}), tiff, ruta, timer);
    } catch (...) {
        reporter_.InformarError(QStringLiteral("ReveladoRapido"));
    }
    reporter_.processEvents();
}

void frmMain::Revelado(const QString& ruta) {
    try {
        FullDevelopmentJob job = developmentJob(ruta, ArchivosRAW, readSetSettings());
        job.rutaDCRAW = hooks_.rutaDCRAW;
        job.rutaLibRaw = hooks_.rutaLibRaw;
        const DevelopmentStatus status = development_->start(job);
        if (status == DevelopmentStatus::NotStarted) return;  // an earlier one goes on
        NumRevelados = development_->numRevelados();
        UltimoRevelado = development_->ultimoRevelado();
        // The user sees the decoder report each file.
        if (status == DevelopmentStatus::Developing) {
            dcrawLog_->setWindowTitle(development_->decoder().name());
            dcrawLog_->follow(development_->messages());
        }
        showDevelopment(status);
    } catch (...) {
        reporter_.InformarError(QStringLiteral("Revelado"));
    }
}

void frmMain::pollDevelopment() {
    try {
        // An operation under way owns the image set the recovery step loads.
        if (busy()) return;  // the next tick tries again
        BusyScope busy(*this);
        development_->updateChoices(readSettings(), chkHLRecovery->isChecked());
        DevelopmentStatus status = development_->poll();
        if (status == DevelopmentStatus::FilesDone) {
            timRevelado->stop();
            decoderStartTimer_->stop();
            dcrawLog_->finish();
            activateWindow();
            status = development_->poll();
            if (status == DevelopmentStatus::HighlightRecovery)
                dcrawLog_->follow(development_->messages());
        }
        showDevelopment(status);
    } catch (...) {
        // A completion reports nothing of its own; a live timer ticks again.
    }
}

void frmMain::ComprobarRevelado() { pollDevelopment(); }

void frmMain::ComprobarReveladoHLRecovery() { pollDevelopment(); }

void frmMain::showDevelopment(DevelopmentStatus status) {
    const bool files = status == DevelopmentStatus::Developing;
    const bool recovery = status == DevelopmentStatus::HighlightRecovery;
    if (files) {
        if (!timRevelado->isActive()) timRevelado->start();
        if (!decoderStartTimer_->isActive()) decoderStartTimer_->start();
    } else {
        timRevelado->stop();
        decoderStartTimer_->stop();
    }
    if (!recovery)
        timReveladoHLRecovery->stop();
    else if (!timReveladoHLRecovery->isActive())
        timReveladoHLRecovery->start();
    if (files || recovery) return;
    dcrawLog_->finish();
    if (status != DevelopmentStatus::Complete) return;
    activateWindow();
    if (NumRevelados > 1) cmdEV->setEnabled(true);
}

void frmMain::reportFailedRun(QTimer* timer, const DcrawRun& run) {
    timer->stop();
    ::reportFailedRun(run, reporter_, true);
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
    // A completion tick due while the status lines are written waits for
    // the development it would poll to be set up.
    BusyScope busy(*this);
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
    if (ConstruirComandoDCRAW(readSettings(), true, true, decoderFor(ruta).decoder) !=
        lblDCRAW->text()) {
        ReveladoRapido(ruta, true);
        return;
    }
    // The TIFF on disk already is a neutral development.
    BusyScope busy(*this);
    if (!measurePatch(ruta)) return;
    ReveladoRapido(ruta, false);
}
