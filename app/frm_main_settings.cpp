// Reference file selection and the development-settings handlers.
#include "app/frm_main.h"
#include "app/preview_box.h"
#include "develop/raw_set.h"
#include "support/paths.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

namespace {
// Every extension either decoder reads; a chosen file of any other extension
// is still listed with its like.
QString rawFilter() {
    QStringList patterns;
    for (const QString& e : rawExtensions()) patterns << QStringLiteral("*.") + e;
    return QStringLiteral("RAW files (") + patterns.join(QLatin1Char(';')) +
           QStringLiteral(");;All files (*.*)");
}
}  // namespace

DevelopSettings frmMain::readSettings() const {
    DevelopSettings s;
    s.modoWB = selectedOptWB();
    for (int i = 0; i < 3; ++i) s.txtWB[static_cast<size_t>(i)] = txtWB[i]->text();
    s.txtSat = txtSat->text();
    s.calidad = cmbQuality->currentIndex();
    s.perfil = cmbProfile->currentIndex();
    s.txtDCRAW = txtDCRAW->text();
    s.headroom = chkHeadroom->isChecked();
    return s;
}

DecoderSetting frmMain::decoderSetting() const {
    const int index = cmbDecoder ? cmbDecoder->currentIndex() : 0;
    return index == 1 ? DecoderSetting::Dcraw
                      : index == 2 ? DecoderSetting::LibRaw : DecoderSetting::Automatic;
}

int frmMain::selectedOptWB() const {
    for (int i = 0; i < 5; ++i)
        if (optWB[i]->isChecked()) return i;
    return -1;
}

void frmMain::selectOptWB(int index) {
    if (optWB[index]->isChecked()) return;
    optWB[index]->setChecked(true);
    optWB_Click(index);
}

void frmMain::setListIndex(QComboBox* list, int index) {
    if (list->currentIndex() == index) return;
    list->setCurrentIndex(index);
    if (list == cmbWB) cmbWB_Click();
    if (list == cmbSat) cmbSat_Click();
    if (list == cmbQuality) cmbQuality_Click();
    if (list == cmbProfile) cmbProfile_Click();
}

void frmMain::cmdSeleccionar_Click() {
    if (busy()) return;  // a running operation owns the set and the files
    try {
        if (!decoderInstalled(decoderSetting(), decoderPaths(), reporter_)) return;
        const QString chosen =
            hooks_.openFile ? hooks_.openFile(QStringLiteral("Set reference RAW file and pathname"),
                                              rawFilter())
                            : QString();
        if (chosen.isEmpty() || chosen == txtRuta->text()) {
            reporter_.showMessage(QStringLiteral("Orrindale"),
                                  QStringLiteral("No file has been selected"));
            return;
        }
        useReference(chosen);
    } catch (...) {
        reporter_.InformarError(QStringLiteral("cmdLoadImage"));
    }
}

void frmMain::useReference(const QString& chosen) {
    pctImagen->dismissResult();
    disableSix();
    txtRuta->setText(chosen);
    const RawListing listing = LeerArchivosRAW(chosen, ArchivosRAW, reporter_);
    if (listing.listed) {
        QString shown = listing.filesText;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        txtFiles->setPlainText(shown);
    }
    txtRuta->setText(listing.reference);
    ReveladoRapido(txtRuta->text(), false);
}

void frmMain::refreshRule(bool disable) {
    const QString line = quickLine();
    if (line == lblDCRAW->text()) return;
    if (disable) disableSix();
    reporter_.MostrarComando(line);
    if (estado.ImagenMostrada) ReveladoRapido(txtRuta->text(), false);
}

void frmMain::optWB_Click(int index) {
    if (estado.ImagenMostrada && !optWB[kWBParche]->isChecked()) showPlainPreview();
    cmdCalculateWB->setEnabled(false);
    cmdParche->setEnabled(false);
    if (index == kWBCamara && optWB[kWBCamara]->isChecked()) {
        if (!estado.AvisoWBMostrado) {
            reporter_.MostrarAviso(QStringLiteral(
                "For proper results Orrindale requires all images to be processed using the same "
                "WB coefficients so if WB changes in any of the shots, e.g. because 'Auto WB' was "
                "used, this development option is not recommended\r\n\r\n(This message will not "
                "pop up again during this session)"));
            estado.AvisoWBMostrado = true;
        }
    } else if (index == kWBPreset) {
        AplicarPresetWB();
    } else if (index == kWBParche) {
        cmdParche->setEnabled(true);
        if (estado.ParcheColocado) {
            cmdCalculateWB->setEnabled(true);
            DibujarPatch(false);
        }
    }
    refreshRule(true);
}

void frmMain::txtWB_Click(int) { selectOptWB(kWBCoefs); }

void frmMain::txtWB_LostFocus(int index) {
    txtWB[index]->setText(comprobarMultiplicador(txtWB[index]->text()));
    refreshRule(false);
}

void frmMain::AplicarPresetWB() {
    std::array<QString, 3> texts;
    if (!presetWB(indexWB_, texts)) return;
    for (int i = 0; i < 3; ++i) txtWB[i]->setText(texts[static_cast<size_t>(i)]);
}

void frmMain::cmbWB_Click() {
    indexWB_ = cmbWB->currentIndex();
    AplicarPresetWB();
    selectOptWB(kWBPreset);
    refreshRule(false);
}

// Edits of a list's text put its remembered item back: the lists act as
// fixed drop-down lists.
static void restoreList(QComboBox* list, int remembered) {
    list->setCurrentIndex(remembered);
    list->setEditText(remembered >= 0 ? list->itemText(remembered) : QString());
}

void frmMain::cmbWB_Change() { restoreList(cmbWB, indexWB_); }
void frmMain::cmbSat_Change() { restoreList(cmbSat, indexSat_); }
void frmMain::cmbQuality_Change() { restoreList(cmbQuality, indexQuality_); }
void frmMain::cmbProfile_Change() { restoreList(cmbProfile, indexProfile_); }

void frmMain::txtSat_Change() {
    const QString digits = soloDigitos(txtSat->text());
    if (digits == txtSat->text()) return;
    const int cursor = txtSat->cursorPosition();
    const int dropped = static_cast<int>(txtSat->text().size() - digits.size());
    txtSat->setText(digits);
    txtSat->setCursorPosition(std::max(0, cursor - dropped));
}

void frmMain::txtSat_LostFocus() {
    txtSat->setText(redondearSaturacion(txtSat->text()));
    setListIndex(cmbSat, 1);  // "User value"
    refreshRule(true);
}

void frmMain::cmbSat_Click() {
    indexSat_ = cmbSat->currentIndex();
    QString value = txtSat->text();
    if (presetSaturacion(indexSat_, value) != SatPresetEffect::Keep) txtSat->setText(value);
    refreshRule(true);
}

void frmMain::cmbQuality_Click() {
    refreshRule(true);
    indexQuality_ = cmbQuality->currentIndex();
}

void frmMain::cmbProfile_Click() {
    indexProfile_ = cmbProfile->currentIndex();
    hscGamma->setValue(gammaParaPerfil(indexProfile_));
    refreshRule(true);
}

void frmMain::cmbDecoder_Click() {
    // Another decoder develops other pixels: what was measured no longer holds.
    refreshRule(true);
}

void frmMain::chkHeadroom_Click() {
    // Other frames, other clip levels: what was measured no longer holds.
    refreshRule(true);
}

void frmMain::txtDCRAW_LostFocus() {
    txtDCRAW->setText(comprimirOpciones(txtDCRAW->text()));
    refreshRule(false);
}
