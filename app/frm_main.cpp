// Main window: construction, start-up, exit, and the wiring of every control
// to its handler.
#include "app/frm_main.h"
#include "pipeline/set_settings.h"

#include "app/dcraw_log_window.h"
#include "app/frm_intro.h"
#include "app/preview_box.h"
#include "app/viewer_window.h"
#include "pipeline/full_development.h"
#include "pipeline/output_formats.h"
#include "support/numbers.h"
#include "support/tiff_io.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

namespace {

// Qt reads blank-separated patterns; the filter text keeps its ";" form. Upper
// case variants are added because some dialogs match case-sensitively.
QString qtFilter(const QString& filter) {
    QStringList entries = filter.split(QStringLiteral(";;"));
    static const QRegularExpression patterns(QStringLiteral("\\(([^)]*)\\)$"));
    for (QString& entry : entries) {
        const auto m = patterns.match(entry);
        if (!m.hasMatch()) continue;
        QStringList list = m.captured(1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        QStringList both;
        for (const QString& p : list) {
            both << p;
            if (p.toUpper() != p) both << p.toUpper();
        }
        entry = entry.left(m.capturedStart(1)) + both.join(QLatin1Char(' ')) + QStringLiteral(")");
    }
    return entries.join(QStringLiteral(";;"));
}

}  // namespace

WindowHooks defaultWindowHooks() {
    WindowHooks hooks;
    hooks.openFile = [](const QString& title, const QString& filter) {
        return QFileDialog::getOpenFileName(QApplication::activeWindow(), title, QString(),
                                            qtFilter(filter));
    };
    hooks.messageBox = [](const QString& title, const QString& text) {
        QString shown = text;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QMessageBox box(QMessageBox::NoIcon, title, shown, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    };
    hooks.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    hooks.beep = [] { QApplication::beep(); };
    return hooks;
}

frmMain::frmMain(WindowHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      hooks_(std::move(hooks)),
      reporter_(*this) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Orrindale v1.1"));
    setFixedSize(849, 744);
    buildControls();
    dcrawLog_ = new DcrawLogWindow(this);
    FullDevelopmentOptions options;
    options.maxProcesses = hooks_.maxDecoders;
    options.memoryAvailable = hooks_.memoryAvailable;
    options.highlightWaitMs = hooks_.highlightWaitMs;
    development_ = std::make_unique<FullDevelopment>(launcher(), reporter_, imagenes, options);
    decoderStartTimer_ = new QTimer(this);
    decoderStartTimer_->setInterval(100);
    connectControls();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

frmMain::~frmMain() {
    viewer_.reset();  // it reads the set this window owns
    if (intro_) intro_->deleteLater();
}

void frmMain::Form_Load() {
    hide();
    if (!intro_) {
        intro_ = new frmIntro(
            [this] {
                show();
                raise();
                activateWindow();
            },
            hooks_.openUrl);
        connect(intro_, &QObject::destroyed, this, [this] { intro_ = nullptr; });
    }
    intro_->show();
    QApplication::processEvents();

    fillLists();
    reporter_.MostrarComando(quickLine());
    estado = ProgramState();
    initTiffLibrary();
}

void frmMain::fillLists() {
    // Each index is set the way the user would pick it, so the lists' handlers
    // set up the multipliers, saturation and gamma that go with it.
    const SetSettings start = defaultSettings();
    cmbWB->addItems(itemsWB());
    cmbWB->setCurrentIndex(kDefaultPresetWB);
    cmbWB_Click();
    cmbSat->addItems(itemsSaturacion());
    cmbSat->setCurrentIndex(kDefaultSaturationPreset);
    cmbSat_Click();
    cmbQuality->addItems(itemsCalidad());
    cmbQuality->setCurrentIndex(start.develop.calidad);
    cmbQuality_Click();
    cmbProfile->addItems(itemsPerfil());
    cmbProfile->setCurrentIndex(start.develop.perfil);
    cmbProfile_Click();
    cmbDecoder->addItems(itemsDecoder());
    cmbDecoder->setCurrentIndex(static_cast<int>(start.decoder));
    for (const OutputFormatInfo& f : outputFormats()) {
        cmbFormat->addItem(QLatin1String(f.caption));
        if (f.format == start.blend.format) cmbFormat->setCurrentIndex(cmbFormat->count() - 1);
    }
    cmbFormat_Click();
}

void frmMain::connectControls() {
    connect(cmdSeleccionar, &QPushButton::clicked, this, [this] { cmdSeleccionar_Click(); });
    connect(cmdSalir, &QPushButton::clicked, this, [this] { cmdSalir_Click(); });
    for (int i = 0; i < 5; ++i)
        connect(optWB[i], &QRadioButton::clicked, this, [this, i] { optWB_Click(i); });
    for (int i = 0; i < 3; ++i) txtWB[i]->installEventFilter(this);
    txtSat->installEventFilter(this);
    txtDCRAW->installEventFilter(this);
    connect(txtSat, &QLineEdit::textChanged, this, [this] { txtSat_Change(); });

    connect(cmbWB, &QComboBox::activated, this, [this] { cmbWB_Click(); });
    connect(cmbSat, &QComboBox::activated, this, [this] { cmbSat_Click(); });
    connect(cmbQuality, &QComboBox::activated, this, [this] { cmbQuality_Click(); });
    connect(cmbProfile, &QComboBox::activated, this, [this] { cmbProfile_Click(); });
    connect(cmbDecoder, &QComboBox::activated, this, [this] { cmbDecoder_Click(); });
    connect(cmbFormat, &QComboBox::activated, this, [this] { cmbFormat_Click(); });
    connect(chkHeadroom, &QCheckBox::clicked, this, [this] { chkHeadroom_Click(); });
    connect(cmbWB->lineEdit(), &QLineEdit::textEdited, this, [this] { cmbWB_Change(); });
    connect(cmbSat->lineEdit(), &QLineEdit::textEdited, this, [this] { cmbSat_Change(); });
    connect(cmbQuality->lineEdit(), &QLineEdit::textEdited, this, [this] { cmbQuality_Change(); });
    connect(cmbProfile->lineEdit(), &QLineEdit::textEdited, this, [this] { cmbProfile_Change(); });

    // Bars whose labels follow them.
    connect(hscTH, &QScrollBar::valueChanged, this,
            [this](int v) { lblTH->setText(QString::number(v) + QStringLiteral("%")); });
    connect(hscAntiGhost, &QScrollBar::valueChanged, this,
            [this](int v) { lblAntiGhost->setText(QString::number(v) + QStringLiteral("px")); });
    connect(hscProgressive, &QScrollBar::valueChanged, this,
            [this](int v) { lblProgressive->setText(QString::number(v) + QStringLiteral("px")); });
    connect(hscGamma, &QScrollBar::valueChanged, this,
            [this](int v) { lblGamma->setText(shortestDecimal(v / 10.0)); });
    // The two mix weights never add up to more than 100 %.
    connect(hscBWR, &QScrollBar::valueChanged, this, [this](int v) {
        lblBWR->setText(QString::number(v) + QStringLiteral("%"));
        if (v + hscBWB->value() > 100) hscBWB->setValue(100 - v);
    });
    connect(hscBWB, &QScrollBar::valueChanged, this, [this](int v) {
        lblBWB->setText(QString::number(v) + QStringLiteral("%"));
        if (v + hscBWR->value() > 100) hscBWR->setValue(100 - v);
    });
    connect(hscBracketNum, &QScrollBar::valueChanged, this, [this](int v) {
        estado.NumBracketing = static_cast<int16_t>(v);
        ActualizarBracketing();
    });
    connect(hscBracketEV, &QScrollBar::valueChanged, this, [this](int v) {
        estado.EVBracketing = static_cast<int16_t>(v);
        ActualizarBracketing();
    });
    lblGamma->setText(shortestDecimal(hscGamma->value() / 10.0));

    // Development runs and the preview.
    connect(cmdDevelop, &QPushButton::clicked, this, [this] { cmdDevelop_Click(); });
    connect(chkHLRecovery, &QPushButton::clicked, this, [this] { chkHLRecovery_Click(); });
    connect(cmdCalculateWB, &QPushButton::clicked, this, [this] { cmdCalculateWB_Click(); });
    connect(timReveladoRapidoNeutro, &QTimer::timeout, this,
            [this] { ComprobarReveladoRapidoNeutro(txtRuta->text()); });
    connect(timReveladoRapido, &QTimer::timeout, this,
            [this] { ComprobarReveladoRapido(txtRuta->text()); });
    connect(timRevelado, &QTimer::timeout, this, [this] { ComprobarRevelado(); });
    connect(decoderStartTimer_, &QTimer::timeout, this, [this] { development_->startDueFiles(); });
    connect(timReveladoHLRecovery, &QTimer::timeout, this,
            [this] { ComprobarReveladoHLRecovery(); });
    connect(pctImagen, &PreviewBox::mouseDown, this,
            [this](float x, float y) { pctImagen_MouseDown(x, y); });
    connect(pctImagen, &PreviewBox::mouseMove, this,
            [this](float x, float y) { pctImagen_MouseMove(x, y); });
    connect(pctImagen, &PreviewBox::mouseUp, this,
            [this](float x, float y) { pctImagen_MouseUp(x, y); });
    connect(cmdParche, &QPushButton::clicked, this, [this] { cmdParche_Click(); });
    connect(cmdCopyClipBoard, &QPushButton::clicked, this, [this] { cmdCopyClipBoard_Click(); });

    // The viewer: on what the box shows, and told of each file the set gets.
    connect(cmdView, &QPushButton::clicked, this, [this] { cmdView_Click(); });
    connect(pctImagen, &PreviewBox::doubleClicked, this, [this] { cmdView_Click(); });
    connect(pctImagen, &PreviewBox::contentChanged, this,
            [this] { cmdView->setEnabled(pctImagen->showingSomething()); });
    connect(txtRutaMap, &QLineEdit::textChanged, this, [this](const QString& path) {
        files_.map.made(path);
        // Moving areas belong to the map they were found with.
        if (path != movingAreasMap_) files_.movingAreas = {};
        setFilesChanged();
    });
    connect(this, &frmMain::operationEnded, this, [this] { setFilesChanged(); });

    // Exposure analysis.
    connect(cmdEV, &QPushButton::clicked, this, [this] { cmdEV_Click(); });
    connect(cmdEVMethod, &QPushButton::clicked, this, [this] { cmdEVMethod_Click(); });

    // Blending map.
    connect(cmdBuildMap, &QPushButton::clicked, this, [this] { cmdBuildMap_Click(); });
    connect(cmdSelMap, &QPushButton::clicked, this, [this] { cmdSelMap_Click(); });
    connect(cmdBlend, &QPushButton::clicked, this, [this] { cmdBlend_Click(); });
    connect(cmdBlendBW, &QPushButton::clicked, this, [this] { cmdBlendBW_Click(); });
    connect(cmdTestBW, &QPushButton::clicked, this, [this] { cmdTestBW_Click(); });

    // RAW files dropped anywhere on the window, text boxes included, choose
    // the reference.
    setAcceptDrops(true);
    for (QWidget* child : findChildren<QWidget*>())
        if (child->acceptDrops()) child->installEventFilter(this);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (handleFileDrag(event)) return true;
    if (event->type() == QEvent::FocusOut) {
        // Only a move of the focus to another control counts as leaving the
        // box; a popup or another window taking the focus does not.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            for (int i = 0; i < 3; ++i)
                if (watched == txtWB[i]) txtWB_LostFocus(i);
            if (watched == txtSat) txtSat_LostFocus();
            if (watched == txtDCRAW) txtDCRAW_LostFocus();
        }
    } else if (event->type() == QEvent::MouseButtonPress) {
        for (int i = 0; i < 3; ++i)
            if (watched == txtWB[i]) txtWB_Click(i);
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::setStatusText(const QString& text) {
    statusText_ = text;
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (shown.endsWith(QLatin1Char('\n'))) shown.chop(1);
    txtStatus->setPlainText(shown);
    // Keep the newest line in sight.
    txtStatus->verticalScrollBar()->setValue(txtStatus->verticalScrollBar()->maximum());
}

void frmMain::showCommandLine(const QString& text) { lblDCRAW->setText(text); }

void frmMain::ActualizarBracketing() {
    if (estado.NumBracketing <= 1) {
        txtBracket->setText(QStringLiteral("NO BRACKETING"));
        return;
    }
    QString text = QStringLiteral("0");
    for (int i = 2; i <= estado.NumBracketing; ++i)
        text += QStringLiteral(" +") + QString::number((i - 1) * estado.EVBracketing);
    txtBracket->setText(text);
}

void frmMain::cmdSalir_Click() {
    close();
    QApplication::quit();
}

void frmMain::closeEvent(QCloseEvent* event) {
    // Leaving never stops a running dcraw; it only stops waiting for it. Files
    // of a development still waiting for a core go to one more dcraw, so their
    // TIFFs appear as they would have.
    development_->handOverWaitingFiles();
    for (QTimer* t : {timReveladoRapidoNeutro, timReveladoRapido, timRevelado, timReveladoHLRecovery,
                      decoderStartTimer_})
        t->stop();
    if (intro_) intro_->close();
    if (viewer_) viewer_->close();
    event->accept();
    QApplication::quit();
}

void frmMain::disableSix() {
    for (QPushButton* b : {cmdDevelop, cmdEV, cmdBuildMap, cmdBlend, cmdBlendBW, cmdTestBW})
        b->setEnabled(false);
}
