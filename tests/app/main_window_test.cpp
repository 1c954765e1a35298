// The main window driven as a user drives it: start-up state, the
// development settings and the command line they produce.
#include "tests/app/window_fixture.h"
#include "tests/common/test_images.h"

#include <QGroupBox>

namespace {

const QString kDefaultLine =
    "/usr/bin/dcraw -v -4 -T -r 2.132483 1 1.480864 1 -q 3 -o 1 -t 0 -h";

template <typename T>
T* find(QWidget* w, const char* name) {
    T* found = w->findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

using StartUpTest = WindowTest;

TEST_F(StartUpTest, WindowAndControlsStartAsTheUserShouldSeeThem) {
    frmMain& w = *window;
    EXPECT_EQ(w.windowTitle(), "Orrindale v1.1");
    EXPECT_EQ(w.size(), QSize(849, 744));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.intro(), nullptr);  // Start closed the intro for good

    // White balance: Preset mode with the Daylight multipliers.
    EXPECT_TRUE(w.optWB[2]->isChecked());
    EXPECT_EQ(w.txtWB[0]->text(), "2.132483");
    EXPECT_EQ(w.txtWB[1]->text(), "1");
    EXPECT_EQ(w.txtWB[2]->text(), "1.480864");
    EXPECT_EQ(w.lblDCRAW->text(), kDefaultLine);

    // Lists filled in order with their initial items.
    EXPECT_EQ(w.cmbWB->count(), 8);
    EXPECT_EQ(w.cmbWB->currentText(), "Daylight");
    EXPECT_EQ(w.cmbSat->count(), 7);
    EXPECT_EQ(w.cmbSat->currentIndex(), 0);
    EXPECT_EQ(w.cmbSat->itemText(5), "Canon 7D ISO1600");
    EXPECT_EQ(w.cmbQuality->currentText(), "AHD");
    EXPECT_EQ(w.cmbProfile->currentText(), "sRGB");
    EXPECT_EQ(w.txtSat->text(), "");
    EXPECT_EQ(w.hscGamma->value(), 22);
    EXPECT_EQ(w.lblGamma->text(), "2.2");

    // Only the start of the chain is usable.
    for (QPushButton* b : {w.cmdCopyClipBoard, w.cmdDevelop, w.cmdEV, w.cmdBuildMap, w.cmdBlend,
                           w.cmdBlendBW, w.cmdTestBW, w.cmdCalculateWB, w.cmdParche})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    for (QPushButton* b : {w.cmdSeleccionar, w.cmdEVMethod, w.cmdSelMap, w.cmdSalir})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_FALSE(w.optWB[4]->isEnabled());
    EXPECT_FALSE(w.hscTemp->isEnabled());
    EXPECT_FALSE(w.hscTint->isEnabled());
    EXPECT_FALSE(w.Label10->isEnabled());
    EXPECT_FALSE(w.Label11->isEnabled());
    EXPECT_EQ(w.cmdParche->text(), "[   ]");
    EXPECT_EQ(w.cmdBlendBW->text().replace("&&", "&"), "B&W");
    EXPECT_EQ(w.Label6->text(), "B&W channel mix");
    EXPECT_EQ(w.txtBracket->text(), "NO BRACKETING");
    EXPECT_EQ(w.cmdEVMethod->text(), "M");

    // Program state.
    EXPECT_FALSE(w.estado.ImagenMostrada);
    EXPECT_TRUE(w.estado.ParcheCuadrado);
    EXPECT_FALSE(w.estado.MetodoMedia);
    EXPECT_EQ(w.estado.NumBracketing, 1);
    EXPECT_EQ(w.estado.EVBracketing, 2);

    // The preview ignores the mouse; Snapshot does nothing.
    w.pctImagen_MouseDown(10, 10);
    w.pctImagen_MouseMove(30, 30);
    w.pctImagen_MouseUp(30, 30);
    EXPECT_FALSE(w.estado.ParcheColocado);
    EXPECT_EQ(w.lblXY->text(), "");
    w.cmdCopyClipBoard_Click();
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(w.timReveladoRapido->isActive());
}

TEST_F(StartUpTest, ControlsCarryTheirNamesCaptionsTooltipsAndRanges) {
    frmMain& w = *window;
    EXPECT_EQ(find<QGroupBox>(&w, "frmRevelado")->title(), "RAW development");
    EXPECT_EQ(find<QGroupBox>(&w, "V")->title(), "White balance");
    EXPECT_EQ(find<QGroupBox>(&w, "frmMap")->title(), "Calc EV / Build map");
    EXPECT_EQ(find<QGroupBox>(&w, "frmBlend")->title(), "Image blending");
    EXPECT_EQ(find<QGroupBox>(&w, "Frame1")->title(), "DCRAW command line");
    EXPECT_EQ(find<QPushButton>(&w, "cmdSeleccionar")->toolTip(), "Set reference RAW file and pathname");
    EXPECT_EQ(find<QLineEdit>(&w, "txtRuta")->toolTip(), "Reference RAW file for path and quick display");
    EXPECT_EQ(find<QPushButton>(&w, "cmdDevelop")->toolTip(),
              "Develop selected RAW files and sort resulting TIFF files by exposure");
    EXPECT_EQ(find<QRadioButton>(&w, "optWB_2")->toolTip(),
              "Precalculated WB (original Canon 350D values)");
    EXPECT_EQ(w.cmbWB->toolTip(), "Precalculated WB (original Canon 350D values)");
    EXPECT_EQ(w.txtDCRAW->toolTip(),
              "DCRAW command introduced by the user. Use this option at your own risk, no syntax "
              "checking");
    EXPECT_EQ(w.cmdTestBW->toolTip(), "Generate B&W channel mix contact sheet (2.2 gamma GIF)");
    struct Range {
        QScrollBar* bar;
        int min, max, value;
    };
    for (const Range& r : {Range{w.hscTH, 0, 99, 90}, Range{w.hscAntiGhost, 0, 50, 0},
                           Range{w.hscProgressive, 0, 50, 3}, Range{w.hscBWR, 0, 100, 33},
                           Range{w.hscBWB, 0, 100, 33}, Range{w.hscGamma, 10, 30, 22},
                           Range{w.hscBracketNum, 1, 7, 1}, Range{w.hscBracketEV, 1, 4, 2},
                           Range{w.hscTemp, 0, 100, 50}}) {
        EXPECT_EQ(r.bar->minimum(), r.min) << r.bar->objectName().toStdString();
        EXPECT_EQ(r.bar->maximum(), r.max);
        EXPECT_EQ(r.bar->value(), r.value);
        EXPECT_EQ(r.bar->singleStep(), 1);
        EXPECT_EQ(r.bar->pageStep(), 1);
    }
    EXPECT_EQ(w.lblTH->text(), "90%");
    EXPECT_EQ(w.lblProgressive->text(), "3px");
    EXPECT_TRUE(w.chkHLRecovery->isCheckable());
    EXPECT_FALSE(w.chkHLRecovery->isChecked());
    EXPECT_EQ(w.timReveladoRapido->interval(), 500);
    EXPECT_EQ(w.timRevelado->interval(), 3000);
    // Every frame sits where the layout puts it.
    EXPECT_EQ(w.pctImagen->geometry(), QRect(16, 16, 592, 394));
    EXPECT_EQ(w.frmRevelado->geometry(), QRect(16, 432, 401, 209));
    EXPECT_EQ(w.frmMap->geometry(), QRect(424, 432, 185, 209));
    EXPECT_EQ(w.frmBlend->geometry(), QRect(616, 432, 217, 268));
    EXPECT_EQ(w.Frame1->geometry(), QRect(16, 643, 593, 57));
    EXPECT_EQ(w.cmdSalir->geometry(), QRect(744, 712, 73, 25));
    EXPECT_EQ(w.V->size(), QSize(257, 177));
    EXPECT_EQ(w.txtStatus->size(), QSize(217, 257));
}

TEST_F(StartUpTest, IntroLinksOpenTheProjectPages) {
    frmMain& w = *window;
    w.hide();
    frmIntro intro([&] { w.show(); }, [this](const QUrl& u) { urls.push_back(u); });
    intro.lblLink_Click();
    intro.pctDonate_Click();
    ASSERT_EQ(urls.size(), 2u);
    EXPECT_EQ(urls[0].toString(), QString::fromLatin1(kHomePage));
    EXPECT_EQ(urls[1].toString(), QString::fromLatin1(kSupportPage));
    EXPECT_EQ(intro.lblCompanyProduct->text(), "Orrindale v1.1");
    EXPECT_EQ(intro.pctDonate->toolTip(), "Support Orrindale");
    EXPECT_EQ(intro.size(), QSize(400, 173));
    intro.cmdStart_Click();
    EXPECT_TRUE(w.isVisible());
}

using SettingsTest = WindowTest;

TEST_F(SettingsTest, CameraWarningIsShownOnceOnly) {
    frmMain& w = *window;
    QTest::mouseClick(w.optWB[0], Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "WARNING");
    EXPECT_TRUE(boxes[0].text.startsWith("For proper results Orrindale requires all images"));
    EXPECT_TRUE(boxes[0].text.endsWith(
        "not recommended\r\n\r\n(This message will not pop up again during this session)"));
    EXPECT_EQ(w.lblDCRAW->text(), "/usr/bin/dcraw -v -4 -T -w -q 3 -o 1 -t 0 -h");
    QTest::mouseClick(w.optWB[2], Qt::LeftButton);
    QTest::mouseClick(w.optWB[0], Qt::LeftButton);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(SettingsTest, CoefficientsTypedIntoTheBoxes) {
    frmMain& w = *window;
    QTest::mouseClick(w.txtWB[0], Qt::LeftButton);  // clicking a box selects Coeffs
    EXPECT_TRUE(w.optWB[1]->isChecked());
    const char* values[3] = {"2", "1", "1.50"};
    for (int i = 0; i < 3; ++i) {
        typeInto(w.txtWB[i], values[i]);
        leave(w.txtWB[i]);
    }
    EXPECT_EQ(w.txtWB[2]->text(), "1.5");
    EXPECT_EQ(w.lblDCRAW->text(), "/usr/bin/dcraw -v -4 -T -r 2 1 1.5 1 -q 3 -o 1 -t 0 -h");
    typeInto(w.txtWB[0], "abc");
    leave(w.txtWB[0]);
    EXPECT_EQ(w.txtWB[0]->text(), "1");
    typeInto(w.txtWB[0], "01");
    leave(w.txtWB[0]);
    EXPECT_EQ(w.txtWB[0]->text(), "1");
}

TEST_F(SettingsTest, PresetsAndTheNeutralPiece) {
    frmMain& w = *window;
    QTest::mouseClick(w.txtWB[0], Qt::LeftButton);
    pick(w.cmbWB, 0);  // "None"
    EXPECT_TRUE(w.optWB[2]->isChecked());  // choosing a preset selects Preset
    EXPECT_TRUE(w.lblDCRAW->text().contains(" -r 1 1 1 1 "));
    pick(w.cmbProfile, 0);
    EXPECT_EQ(w.lblDCRAW->text(), ConstruirComandoDCRAW(w.readSettings(), true, true));
    pick(w.cmbWB, 5);
    EXPECT_EQ(w.txtWB[0]->text(), "1.392498");
    EXPECT_EQ(w.txtWB[2]->text(), "2.375114");
}

TEST_F(SettingsTest, SaturationBoxAndPresets) {
    frmMain& w = *window;
    pick(w.cmbSat, 3);
    EXPECT_EQ(w.txtSat->text(), "13823");
    EXPECT_TRUE(w.lblDCRAW->text().contains(" 1 -S 13823 -q 3"));
    pick(w.cmbSat, 0);
    EXPECT_EQ(w.txtSat->text(), "");
    EXPECT_FALSE(w.lblDCRAW->text().contains("-S"));
    typeInto(w.txtSat, "12a3");
    EXPECT_EQ(w.txtSat->text(), "123");
    leave(w.txtSat);
    EXPECT_EQ(w.cmbSat->currentIndex(), 1);  // "User value"
    EXPECT_TRUE(w.lblDCRAW->text().contains(" -S 123 "));
    // Leaving the box unchanged selects "User value" too.
    pick(w.cmbSat, 2);
    EXPECT_EQ(w.txtSat->text(), "3398");
    leave(w.txtSat);
    EXPECT_EQ(w.cmbSat->currentIndex(), 1);
    EXPECT_EQ(w.txtSat->text(), "3398");
}

TEST_F(SettingsTest, ProfileSetsTheOutputGamma) {
    frmMain& w = *window;
    pick(w.cmbProfile, 4);
    EXPECT_EQ(w.hscGamma->value(), 18);
    EXPECT_EQ(w.lblGamma->text(), "1.8");
    EXPECT_TRUE(w.lblDCRAW->text().endsWith("-o 4 -t 0 -h"));
    pick(w.cmbProfile, 5);
    EXPECT_EQ(w.hscGamma->value(), 10);
    EXPECT_EQ(w.lblGamma->text(), "1");
    pick(w.cmbProfile, 2);
    EXPECT_EQ(w.hscGamma->value(), 22);
    pick(w.cmbQuality, 0);
    EXPECT_TRUE(w.lblDCRAW->text().contains(" -q 0 -o 2 "));
}

TEST_F(SettingsTest, ExtraOptionsAreSqueezed) {
    frmMain& w = *window;
    typeInto(w.txtDCRAW, "  -n   100 ");
    leave(w.txtDCRAW);
    EXPECT_EQ(w.txtDCRAW->text(), "-n 100");
    EXPECT_TRUE(w.lblDCRAW->text().endsWith("-t 0 -h -n 100"));
}

TEST_F(SettingsTest, EditingAListsTextPutsItsItemBack) {
    frmMain& w = *window;
    for (QComboBox* list : {w.cmbWB, w.cmbSat, w.cmbQuality, w.cmbProfile}) {
        const QString before = list->currentText();
        const int index = list->currentIndex();
        QTest::keyClicks(list->lineEdit(), "xyz");
        EXPECT_EQ(list->currentText(), before) << list->objectName().toStdString();
        EXPECT_EQ(list->currentIndex(), index);
    }
    EXPECT_EQ(w.lblDCRAW->text(), kDefaultLine);
}

TEST_F(SettingsTest, ASettingChangeDisablesWhatDependsOnIt) {
    frmMain& w = *window;
    for (QPushButton* b : {w.cmdDevelop, w.cmdEV, w.cmdBuildMap, w.cmdBlend, w.cmdBlendBW, w.cmdTestBW})
        b->setEnabled(true);
    // The multipliers' check does not disable the chain...
    typeInto(w.txtWB[0], "3");
    leave(w.txtWB[0]);
    EXPECT_TRUE(w.cmdEV->isEnabled());
    // ...a new demosaic algorithm does.
    pick(w.cmbQuality, 1);
    for (QPushButton* b : {w.cmdDevelop, w.cmdEV, w.cmdBuildMap, w.cmdBlend, w.cmdBlendBW, w.cmdTestBW})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    // Nothing was developed: no preview is on display yet.
    EXPECT_TRUE(fake->calls.empty());
}

TEST_F(SettingsTest, OutputBarsUpdateTheirLabels) {
    frmMain& w = *window;
    w.hscTH->setValue(75);
    EXPECT_EQ(w.lblTH->text(), "75%");
    w.hscBWR->setValue(80);
    EXPECT_EQ(w.hscBWB->value(), 20);
    EXPECT_EQ(w.lblBWB->text(), "20%");
    w.hscBracketNum->setValue(3);
    EXPECT_EQ(w.txtBracket->text(), "0 +2 +4");
    EXPECT_EQ(w.estado.NumBracketing, 3);
    w.hscBracketEV->setValue(1);
    EXPECT_EQ(w.txtBracket->text(), "0 +1 +2");
    w.cmdEVMethod->click();
    EXPECT_EQ(w.cmdEVMethod->text(), "A");
    EXPECT_TRUE(w.estado.MetodoMedia);
    w.cmdEVMethod->click();
    EXPECT_EQ(w.cmdEVMethod->text(), "M");
    EXPECT_FALSE(w.estado.MetodoMedia);
}

class CommaLocaleTest : public WindowTest {
protected:
    QLocale locale() const override { return QLocale(QLocale::German, QLocale::Germany); }
};

TEST_F(CommaLocaleTest, BoxesShowCommasAndTheLineKeepsPoints) {
    frmMain& w = *window;
    EXPECT_EQ(w.txtWB[0]->text(), "2,132483");
    EXPECT_EQ(w.lblGamma->text(), "2,2");
    EXPECT_EQ(w.lblDCRAW->text(), kDefaultLine);
    QTest::mouseClick(w.txtWB[0], Qt::LeftButton);
    typeInto(w.txtWB[0], "1,50");
    leave(w.txtWB[0]);
    EXPECT_EQ(w.txtWB[0]->text(), "1,5");
    typeInto(w.txtWB[2], "1.25");  // a point is understood too
    leave(w.txtWB[2]);
    EXPECT_EQ(w.txtWB[2]->text(), "1,25");
    EXPECT_TRUE(w.lblDCRAW->text().contains(" -r 1.5 1 1.25 1 "));
}

}  // namespace
