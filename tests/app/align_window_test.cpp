// The "Align" check box through the real window: off at start-up, its status
// lines in "Calc EV", and a change taking effect at the next "Calc EV".
#include "align/rigid_move.h"
#include "tests/app/window_fixture.h"
#include "tests/common/exposure_sets.h"
#include "tests/common/shaken_sets.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QRegularExpression>

namespace {

class AlignWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        folder = dir.path() + "/";
        shaken = shakenBracket(320, 224, 3, 2, 4, 0.3, 41);
        writeTiffSet(folder, {"IMG_1.tiff", "IMG_2.tiff", "IMG_3.tiff"}, shaken.frames);
        window->ArchivosRAW = {"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2"};
        window->txtRuta->setText(folder + "IMG_1.CR2");
        window->estado.ImagenMostrada = true;
        window->cmdEV->setEnabled(true);
    }
    QTemporaryDir dir;
    QString folder;
    ShakenSet shaken;
};

TEST_F(AlignWindowTest, CalcEvAlignsWhenTheBoxIsTickedAndNotOtherwise) {
    frmMain& w = *window;
    EXPECT_FALSE(w.chkAlign->isChecked());
    EXPECT_EQ(w.chkAlign->text(), "Align");
    EXPECT_EQ(w.chkAlign->parentWidget(), w.frmMap);

    w.chkAlign->click();
    w.cmdEV->click();
    EXPECT_TRUE(w.cmdBuildMap->isEnabled());
    const QStringList lines = logLines();
    const qsizetype at = lines.indexOf("Aligning images...");
    ASSERT_GT(at, 1) << w.statusText().toStdString();
    EXPECT_EQ(lines[at - 2], "Reloading sorted images...");
    EXPECT_EQ(lines[at - 1], "");
    EXPECT_EQ(lines[at + 3], "");
    EXPECT_EQ(lines[at + 4], "Calculating relative exposure...");
    const QRegularExpression line(
        R"(^IMG_(\d)\.tiff: shift ([+-]\d+\.\d\d) ([+-]\d+\.\d\d) px, rotation ([+-]\d+\.\d\d\d) deg$)");
    for (int k = 2; k <= 3; ++k) {
        const QRegularExpressionMatch m = line.match(lines[at + k - 1]);
        ASSERT_TRUE(m.hasMatch()) << lines[at + k - 1].toStdString();
        EXPECT_EQ(m.captured(1).toInt(), k);
        const RigidMove logged =
            moveFromDegrees(m.captured(2).toDouble(), m.captured(3).toDouble(), m.captured(4).toDouble());
        EXPECT_LT(cornerDistance(logged, shaken.moves[static_cast<size_t>(k) - 1], 320, 224), 0.1)
            << lines[at + k - 1].toStdString();
    }
    EXPECT_TRUE(boxes.empty());

    // Unticked: the next "Calc EV" is today's, frames as on disk.
    w.chkAlign->click();
    w.cmdEV->click();
    EXPECT_FALSE(w.statusText().contains("Align"));
    EXPECT_EQ(w.imagenes.ImagenesTIFF[1].pixels, shaken.frames[1].pixels);
}

}  // namespace
