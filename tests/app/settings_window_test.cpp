// The window fills the one settings record: at start-up it holds the
// defaults every set starts from (the batch's too), and each control reaches
// its field.
#include "tests/app/window_fixture.h"

#include <QCheckBox>

namespace {

using SettingsWindowTest = WindowTest;

TEST_F(SettingsWindowTest, StartsFromTheDefaultsAndEachControlReachesTheRecord) {
    frmMain& w = *window;
    EXPECT_EQ(recordedSettings(w.readSetSettings()), recordedSettings(defaultSettings()));

    w.hscTH->setValue(75);
    w.hscProgressive->setValue(5);
    w.chkAlign->setChecked(true);
    w.chkWeighted->setChecked(true);
    w.hscBWR->setValue(40);
    w.optWB[kWBCamara]->click();
    w.cmbProfile->setCurrentIndex(4);
    w.cmbProfile_Click();
    const SetSettings s = w.readSetSettings(true);
    EXPECT_EQ(s.map.umbral, 75);
    EXPECT_EQ(s.map.progressive, 5);
    EXPECT_TRUE(s.align.alinear);
    EXPECT_EQ(s.blend.merge, BlendMerge::Weighted);
    EXPECT_TRUE(s.blend.blancoNegro);
    EXPECT_EQ(s.blend.pesoRojo, 40);
    // Derived as the batch derives them: the map's white balance from the
    // development, the gamma and the name from the profile.
    EXPECT_TRUE(s.map.balanceCamara);
    EXPECT_EQ(s.blend.gamma, 18);
    EXPECT_EQ(s.blend.perfil, "ProPhoto RGB");

    // Headroom is a development setting: the command line shows it at once.
    EXPECT_FALSE(w.lblDCRAW->text().contains(" -H 1"));
    w.chkHeadroom->click();
    EXPECT_TRUE(w.readSetSettings().develop.headroom);
    EXPECT_TRUE(w.readSetSettings().map.headroom);
    EXPECT_TRUE(w.lblDCRAW->text().contains(" -H 1")) << w.lblDCRAW->text().toStdString();
}

}  // namespace
