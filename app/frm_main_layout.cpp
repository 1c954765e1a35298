// Creates and places every control of the main window: names, captions,
// tooltips, ranges and initial states.
#include "app/frm_main.h"
#include "app/preview_box.h"
#include "pipeline/set_settings.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

namespace {

template <typename T>
T* named(T* widget, const char* name, int x, int y, int w, int h) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y, int w, int h,
              const QString& tip = QString()) {
    auto* l = named(new QLabel(text, parent), name, x, y, w, h);
    l->setTextFormat(Qt::PlainText);  // "B&W" shows its ampersand
    if (!tip.isEmpty()) l->setToolTip(tip);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, int x, int y, int w,
                    int h, const QString& tip = QString(), bool enabled = true) {
    // "&" in a button caption would become an access key; double it to show it.
    QString caption = text;
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    auto* b = named(new QPushButton(caption, parent), name, x, y, w, h);
    if (!tip.isEmpty()) b->setToolTip(tip);
    b->setEnabled(enabled);
    b->setAutoDefault(false);
    return b;
}

QPushButton* toggle(QWidget* parent, const char* name, const QString& text, int x, int y, int w,
                    int h, const QString& tip) {
    auto* b = button(parent, name, text, x, y, w, h, tip);
    b->setCheckable(true);  // stays pressed while checked
    return b;
}

QScrollBar* bar(QWidget* parent, const char* name, int x, int y, int w, int min, int max,
                int value) {
    auto* s = named(new QScrollBar(Qt::Horizontal, parent), name, x, y, w, 17);
    s->setRange(min, max);
    s->setSingleStep(1);
    s->setPageStep(1);
    s->setValue(value);
    return s;
}

QComboBox* list(QWidget* parent, const char* name, int x, int y, int w, const QString& tip) {
    auto* c = named(new QComboBox(parent), name, x, y, w, 21);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setToolTip(tip);
    c->setMaxVisibleItems(10);
    return c;
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& caption, int x, int y, int w,
                 int h) {
    auto* g = named(new QGroupBox(caption, parent), name, x, y, w, h);
    return g;
}

}  // namespace

void frmMain::buildControls() {
    // The controls start at the settings every set starts from.
    const SetSettings start = defaultSettings();
    QFont base(QStringLiteral("Liberation Sans"));
    base.setPointSizeF(8.25);
    setFont(base);

    // Preview and reference row.
    pctImagen = named(new PreviewBox(this), "pctImagen", 16, 16, 592, 394);
    // The path box gives "View" its width, so the row still ends with the box.
    txtRuta = named(new QLineEdit(this), "txtRuta", 16, 411, 459, 21);
    txtRuta->setReadOnly(true);
    txtRuta->setToolTip(QStringLiteral("Reference RAW file for path and quick display"));
    cmdSeleccionar = button(this, "cmdSeleccionar", QStringLiteral("..."), 475, 411, 37, 21,
                            QStringLiteral("Set reference RAW file and pathname"));
    cmdCopyClipBoard = button(this, "cmdCopyClipBoard", QStringLiteral("Snapshot"), 512, 411, 59,
                              21, QStringLiteral("Copy display to Clipboard"), false);
    cmdView = button(this, "cmdView", QStringLiteral("View"), 571, 411, 40, 21,
                     QStringLiteral("Look at what the box shows at full size: zoom, pan, and "
                                    "compare the output with each frame"),
                     false);

    // Status column.
    Label15 = label(this, "Label15", QStringLiteral("Status"), 616, 3, 217, 13);
    txtStatus = named(new QPlainTextEdit(this), "txtStatus", 616, 17, 217, 257);
    txtStatus->setReadOnly(true);
    txtStatus->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtStatus->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    lblXY = label(this, "lblXY", QString(), 632, 280, 201, 14);
    Label16 = label(this, "Label16", QStringLiteral("RAW files in path"), 616, 298, 217, 13);
    txtFiles = named(new QPlainTextEdit(this), "txtFiles", 616, 312, 217, 117);
    txtFiles->setReadOnly(true);
    txtFiles->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    // Timers: all disabled at start.
    auto timer = [this](const char* name, int interval) {
        auto* t = new QTimer(this);
        t->setObjectName(QLatin1String(name));
        t->setInterval(interval);
        return t;
    };
    timReveladoRapidoNeutro = timer("timReveladoRapidoNeutro", 500);
    timReveladoRapido = timer("timReveladoRapido", 500);
    timRevelado = timer("timRevelado", 3000);
    timReveladoHLRecovery = timer("timReveladoHLRecovery", 3000);

    // RAW development.
    frmRevelado = frame(this, "frmRevelado", QStringLiteral("RAW development"), 16, 432, 401, 209);
    V = frame(frmRevelado, "V", QStringLiteral("White balance"), 8, 18, 257, 177);
    const char* optNames[5] = {"optWB_0", "optWB_1", "optWB_2", "optWB_3", "optWB_4"};
    const QString optCaptions[5] = {QStringLiteral("Camera"), QStringLiteral("Coeffs"),
                                    QStringLiteral("Preset"), QStringLiteral("Patch"),
                                    QStringLiteral("Temp/Tint")};
    const QString optTips[5] = {QStringLiteral("WB set in camera"),
                                QStringLiteral("WB defined by linear multipliers"),
                                QStringLiteral("Precalculated WB (original Canon 350D values)"),
                                QStringLiteral("WB calculated over a patch set on the image"),
                                QStringLiteral("Kelvin temperature and tint WB")};
    const int optY[5] = {22, 52, 82, 112, 142};
    for (int i = 0; i < 5; ++i) {
        optWB[i] = named(new QRadioButton(optCaptions[i], V), optNames[i], 8, optY[i], 76, 20);
        optWB[i]->setToolTip(optTips[i]);
    }
    optWB[4]->setEnabled(false);
    Label7 = label(V, "Label7", QStringLiteral("R"), 88, 20, 50, 13);
    Label8 = label(V, "Label8", QStringLiteral("G"), 144, 20, 50, 13);
    Label9 = label(V, "Label9", QStringLiteral("B"), 200, 20, 50, 13);
    for (QLabel* l : {Label7, Label8, Label9}) l->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    const QString wbTips[3] = {QStringLiteral("R linear coefficient"),
                               QStringLiteral("G linear coefficient"),
                               QStringLiteral("B linear coefficient")};
    const char* wbNames[3] = {"txtWB_0", "txtWB_1", "txtWB_2"};
    for (int i = 0; i < 3; ++i) {
        txtWB[i] = named(new QLineEdit(V), wbNames[i], 88 + 56 * i, 51, 52, 21);
        txtWB[i]->setToolTip(wbTips[i]);
    }
    cmbWB = list(V, "cmbWB", 88, 81, 164,
                 QStringLiteral("Precalculated WB (original Canon 350D values)"));
    cmdCalculateWB = button(V, "cmdCalculateWB", QStringLiteral("Calc WB"), 88, 110, 108, 23,
                            QStringLiteral("Calculate WB coefficients for patch"), false);
    cmdParche = button(V, "cmdParche", QStringLiteral("[   ]"), 200, 110, 52, 23,
                       QStringLiteral("Select square or round WB patch"), false);
    hscTemp = bar(V, "hscTemp", 88, 140, 80, 0, 100, 50);
    hscTemp->setEnabled(false);
    Label10 = label(V, "Label10", QStringLiteral("4500 K"), 88, 158, 80, 14);
    Label10->setEnabled(false);
    Label10->setAlignment(Qt::AlignHCenter);
    hscTint = bar(V, "hscTint", 172, 140, 80, 0, 100, 50);
    hscTint->setEnabled(false);
    Label11 = label(V, "Label11", QStringLiteral("0"), 172, 158, 80, 14);
    Label11->setEnabled(false);
    Label11->setAlignment(Qt::AlignHCenter);

    // Beside the white balance's title, as "Weighted" beside the map's: the
    // multipliers are what would clip a channel before the sensor does.
    chkHeadroom = named(new QCheckBox(QStringLiteral("Headroom"), frmRevelado), "chkHeadroom",
                        168, 17, 90, 18);
    chkHeadroom->setToolTip(QStringLiteral(
        "Develop every channel up to where the sensor clips (dcraw -H 1) instead of clipping it "
        "after its white-balance multiplier; the output is darker by the largest multiplier"));
    const QString satTip =
        QStringLiteral("Set saturation level in case value considered by DCRAW for your camera is wrong");
    Label17 = label(frmRevelado, "Label17", QStringLiteral("Saturation level"), 273, 20, 78, 14,
                    satTip);
    txtSat = named(new QLineEdit(frmRevelado), "txtSat", 351, 16, 42, 21);
    txtSat->setToolTip(satTip);
    cmbSat = list(frmRevelado, "cmbSat", 273, 39, 120, satTip);
    cmbSat->view()->setMinimumWidth(130);
    const QString qualityTip = QStringLiteral("AHD is usually best but it depends on RAW format");
    Label2 = label(frmRevelado, "Label2", QStringLiteral("Demosaic algorithm"), 273, 63, 120, 14,
                   qualityTip);
    cmbQuality = list(frmRevelado, "cmbQuality", 273, 78, 120, qualityTip);
    Label3 = label(frmRevelado, "Label3", QStringLiteral("Output colour profile"), 273, 102, 120,
                   14,
                   QStringLiteral("Orrindale will display wrong colours if sRGB is not chosen but "
                                  "image RGB values are always correct"));
    cmbProfile = list(frmRevelado, "cmbProfile", 273, 117, 120,
                      QStringLiteral("Image data are always correct although Orrindale will "
                                     "display wrong colours when sRGB is not chosen"));
    const QString decoderTip = QStringLiteral(
        "RAW decoder: Automatic uses dcraw unless it cannot read a file of the set, then LibRaw");
    Label24 = label(frmRevelado, "Label24", QStringLiteral("Decoder"), 273, 146, 44, 14, decoderTip);
    cmbDecoder = named(new QComboBox(frmRevelado), "cmbDecoder", 317, 143, 76, 21);
    cmbDecoder->setToolTip(decoderTip);
    cmdDevelop = button(frmRevelado, "cmdDevelop", QStringLiteral("Develop"), 273, 170, 84, 25,
                        QStringLiteral("Develop selected RAW files and sort resulting TIFF files "
                                       "by exposure"),
                        false);
    chkHLRecovery = toggle(frmRevelado, "chkHLRecovery", QStringLiteral("HL"), 361, 170, 32, 25,
                           QStringLiteral("Activate highlight recovery"));

    // Calc EV / Build map.
    frmMap = frame(this, "frmMap", QStringLiteral("Calc EV / Build map"), 424, 432, 185, 209);
    Label1 = label(frmMap, "Label1", QStringLiteral("Map threshold"), 8, 20, 169, 14,
                   QStringLiteral("Threshold to saturation to consider a RGB channel valid"));
    hscTH = bar(frmMap, "hscTH", 8, 38, 128, 0, 99, start.map.umbral);
    lblTH = label(frmMap, "lblTH", QStringLiteral("90%"), 140, 39, 37, 14);
    Label12 = label(frmMap, "Label12", QStringLiteral("Anti ghosting"), 8, 64, 169, 14,
                    QStringLiteral("Radius in pixels for Anti ghosting in border areas. It is "
                                   "recommended to keep this value as low as possible"));
    hscAntiGhost = bar(frmMap, "hscAntiGhost", 8, 82, 128, 0, 50, start.map.antiGhost);
    lblAntiGhost = label(frmMap, "lblAntiGhost", QStringLiteral("0px"), 140, 83, 37, 14);
    Label4 = label(frmMap, "Label4", QStringLiteral("Progressive blending"), 8, 108, 169, 14,
                   QStringLiteral("Radius in pixels for Progressive blending in border areas. This "
                                  "parameter will force extra Anti ghosting radius"));
    hscProgressive =
        bar(frmMap, "hscProgressive", 8, 126, 128, 0, 50, start.map.progressive);
    lblProgressive = label(frmMap, "lblProgressive", QStringLiteral("3px"), 140, 127, 37, 14);
    chkAlign = named(new QCheckBox(QStringLiteral("Align"), frmMap), "chkAlign", 8, 148, 80, 18);
    chkAlign->setToolTip(QStringLiteral(
        "Align handheld frames (shift and rotation) to the least exposed one at the next Calc EV"));
    chkDeghost =
        named(new QCheckBox(QStringLiteral("Deghost"), frmMap), "chkDeghost", 104, 148, 73, 18);
    chkDeghost->setToolTip(QStringLiteral(
        "Show each moving subject once, whole, from one image: read at the next Build map"));
    chkDeghost->setChecked(start.map.deghost);
    cmdEV = button(frmMap, "cmdEV", QStringLiteral("Calc EV"), 8, 170, 62, 25,
                   QStringLiteral("Calculate relative exposures"), false);
    cmdEVMethod = button(frmMap, "cmdEVMethod", QStringLiteral("M"), 74, 170, 26, 25,
                         QStringLiteral("Select method for relative exposure calculation. Average "
                                        "is quicker and Median is more accurate in presence of "
                                        "moving elements or non-linearities"));
    cmdBuildMap = button(frmMap, "cmdBuildMap", QStringLiteral("Build map"), 104, 170, 73, 25,
                         QStringLiteral("Build blending map from loaded TIFF files"), false);

    // Image blending.
    frmBlend = frame(this, "frmBlend", QStringLiteral("Image blending"), 616, 432, 217, 268);
    const QString mapTip = QStringLiteral("Blending map file and pathname");
    Label18 = label(frmBlend, "Label18", QStringLiteral("Blending map"), 8, 20, 118, 14, mapTip);
    chkWeighted =
        named(new QCheckBox(QStringLiteral("Weighted"), frmBlend), "chkWeighted", 130, 18, 79, 18);
    chkWeighted->setToolTip(QStringLiteral(
        "Average every unclipped image by its noise instead of taking each pixel from one image"));
    txtRutaMap = named(new QLineEdit(frmBlend), "txtRutaMap", 8, 36, 170, 21);
    txtRutaMap->setReadOnly(true);
    txtRutaMap->setToolTip(mapTip);
    cmdSelMap = button(frmBlend, "cmdSelMap", QStringLiteral("..."), 181, 36, 28, 21,
                       QStringLiteral("Set blending map file and pathname"));
    Label6 = label(frmBlend, "Label6", QStringLiteral("B&W channel mix"), 8, 62, 201, 14,
                   QStringLiteral("RGB channel mixer for B&W output"));
    Label19 = label(frmBlend, "Label19", QStringLiteral("R"), 8, 80, 12, 14);
    hscBWR = bar(frmBlend, "hscBWR", 22, 79, 146, 0, 100, start.blend.pesoRojo);
    lblBWR = label(frmBlend, "lblBWR", QStringLiteral("33%"), 172, 80, 37, 14,
                   QStringLiteral("R channel mix"));
    Label21 = label(frmBlend, "Label21", QStringLiteral("B"), 8, 99, 12, 14);
    hscBWB = bar(frmBlend, "hscBWB", 22, 98, 146, 0, 100, start.blend.pesoAzul);
    lblBWB = label(frmBlend, "lblBWB", QStringLiteral("33%"), 172, 99, 37, 14,
                   QStringLiteral("B channel mix"));
    const QString formatTip = QStringLiteral(
        "File of the blend: 16-bit TIFF with the output gamma; scene-linear float TIFF or "
        "OpenEXR for HDR editors and tone mappers; HDR AVIF (BT.2100 PQ) for HDR screens");
    Label25 =
        label(frmBlend, "Label25", QStringLiteral("Output format"), 8, 123, 72, 14, formatTip);
    cmbFormat = named(new QComboBox(frmBlend), "cmbFormat", 82, 120, 127, 21);
    cmbFormat->setToolTip(formatTip);
    Label13 = label(frmBlend, "Label13", QStringLiteral("Output gamma"), 8, 145, 150, 14,
                    QStringLiteral("High precision floating point gamma correction"));
    hscGamma = bar(frmBlend, "hscGamma", 8, 161, 110, 10, 30, start.blend.gamma);
    lblGamma = label(frmBlend, "lblGamma", QStringLiteral("2,2"), 122, 162, 34, 14,
                     QStringLiteral("High precision (floating point) gamma correction"));
    chkETTR = toggle(frmBlend, "chkETTR", QStringLiteral("ETTR"), 160, 156, 49, 25,
                     QStringLiteral("Force exposed to the right output histogram"));
    const QString aebTip = QStringLiteral(
        "Auto exposure bracketing to ease tone mapping using programs such as TuFuse, "
        "Photomatix,...");
    Label14 = label(frmBlend, "Label14", QStringLiteral("Num"), 8, 187, 26, 14,
                    QStringLiteral("Number of bracketed images"));
    hscBracketNum = bar(frmBlend, "hscBracketNum", 34, 186, 68, 1, 7, start.blend.numBracketing);
    Label22 = label(frmBlend, "Label22", QStringLiteral("EV"), 114, 187, 20, 14,
                    QStringLiteral("Exposure gap of bracketed images"));
    hscBracketEV = bar(frmBlend, "hscBracketEV", 136, 186, 73, 1, 4, start.blend.evBracketing);
    // The AEB label beside its summary, which keeps room for seven offsets.
    Label23 = label(frmBlend, "Label23", QStringLiteral("Output AEB"), 8, 211, 62, 14, aebTip);
    txtBracket = named(new QLineEdit(QStringLiteral("NO BRACKETING"), frmBlend), "txtBracket", 72,
                       208, 137, 21);
    txtBracket->setReadOnly(true);
    txtBracket->setToolTip(aebTip);
    cmdBlend = button(frmBlend, "cmdBlend", QStringLiteral("Colour"), 8, 236, 72, 25,
                      QStringLiteral("Blend images with colour output"), false);
    cmdBlendBW = button(frmBlend, "cmdBlendBW", QStringLiteral("B&W"), 84, 236, 72, 25,
                        QStringLiteral("Blend images with B&W output"), false);
    cmdTestBW = button(frmBlend, "cmdTestBW", QStringLiteral("T"), 160, 236, 49, 25,
                       QStringLiteral("Generate B&W channel mix contact sheet (2.2 gamma GIF)"),
                       false);

    // DCRAW command line.
    Frame1 = frame(this, "Frame1", QStringLiteral("DCRAW command line"), 16, 643, 593, 57);
    lblDCRAW = label(Frame1, "lblDCRAW", QString(), 8, 18, 393, 33);
    QFont mono(QStringLiteral("Courier New"));
    mono.setPointSizeF(8.25);
    mono.setBold(true);
    mono.setStyleHint(QFont::TypeWriter);
    lblDCRAW->setFont(mono);
    lblDCRAW->setWordWrap(true);
    lblDCRAW->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QString userTip = QStringLiteral(
        "DCRAW command introduced by the user. Use this option at your own risk, no syntax "
        "checking");
    Label20 = label(Frame1, "Label20", QStringLiteral("User DCRAW"), 416, 14, 169, 14, userTip);
    txtDCRAW = named(new QLineEdit(Frame1), "txtDCRAW", 416, 30, 169, 21);
    txtDCRAW->setToolTip(userTip);

    // Footer.
    lblFooter = label(this, "lblFooter",
                      QStringLiteral("Orrindale v1.1 - low-noise blending of RAW exposure brackets"),
                      16, 716, 400, 14);
    lblWeb = label(this, "lblWeb", QStringLiteral("orrindale.example.org"), 440, 716, 200, 14);
    cmdSalir = button(this, "cmdSalir", QStringLiteral("Exit"), 744, 712, 73, 25);
}
