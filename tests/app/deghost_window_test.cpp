// The Deghost check box through the real window: where it sits, what "Build
// map" then tells and writes, and what the preview box shows.
#include "tests/app/window_fixture.h"
#include "tests/common/blend_reference.h"
#include "tests/common/moving_sets.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QRegularExpression>

namespace {

class DeghostWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        folder = dir.path() + "/";
        MovingScene scene;
        scene.x = 50, scene.y = 40, scene.w = 24, scene.h = 30, scene.dx = 20;
        window->imagenes = diskSet(folder, movingFrames(scene), scene.gap);
        window->estado.ImagenMostrada = true;
        window->txtRuta->setText(folder + "IMG_1.CR2");
        window->cmdBuildMap->setEnabled(true);
    }
    QTemporaryDir dir;
    QString folder;
};

TEST_F(DeghostWindowTest, TheBoxSitsInTheMapFrameOffAtStartUp) {
    const frmMain& w = *window;
    const QWidget* frame = w.frmMap;
    EXPECT_EQ(w.chkDeghost->parentWidget(), frame);
    EXPECT_EQ(w.chkDeghost->text(), "Deghost");
    EXPECT_FALSE(w.chkDeghost->isChecked());
    EXPECT_TRUE(frame->rect().contains(w.chkDeghost->geometry()));
    for (const QWidget* other : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other == w.chkDeghost) continue;
        EXPECT_FALSE(other->geometry().intersects(w.chkDeghost->geometry()))
            << other->objectName().toStdString();
    }
}

TEST_F(DeghostWindowTest, BuildMapTellsAndShowsTheMovingAreas) {
    frmMain& w = *window;
    // Read at each build: on, then off again.
    for (bool on : {true, false}) {
        SCOPED_TRACE(on ? "on" : "off");
        if (w.chkDeghost->isChecked() != on) w.chkDeghost->click();
        for (const QString& f : QDir(folder).entryList({"Moving_*.png"})) QFile::remove(folder + f);
        w.cmdBuildMap->setEnabled(true);
        w.cmdBuildMap->click();
        const QStringList lines = logLines();
        const qsizetype moving =
            lines.indexOf(QRegularExpression("Moving areas: 1, [0-9]+(\\.[0-9])?% of the picture "
                                             "\\(references IMG_[1-5]\\.tiff\\)"));
        const QStringList pictures = QDir(folder).entryList({"Moving_*.png"});
        EXPECT_EQ(lines.back(), "DONE");
        if (!on) {
            EXPECT_EQ(moving, -1);
            EXPECT_TRUE(pictures.isEmpty());
            EXPECT_TRUE(w.pctImagen->caption().startsWith("Map: Map_"));
            continue;
        }
        EXPECT_TRUE(lines.contains("Detecting moving subjects..."));
        ASSERT_GT(moving, lines.indexOf(QRegularExpression("Saving PNG map as Map_.*")));
        ASSERT_EQ(pictures.size(), 1);
        EXPECT_EQ(lines[moving + 1], "Saving moving areas as " + pictures[0] + "...");
        EXPECT_EQ(w.pctImagen->caption(), "Moving areas: " + pictures[0]);
        EXPECT_EQ(QImage(folder + pictures[0]).size(), QSize(160, 120));
        // The blend goes through the map just built, with its areas.
        w.cmdBlend->click();
        EXPECT_EQ(logLines().back(), "DONE");
        EXPECT_EQ(w.imagenes.motionOf(w.txtRutaMap->text()), &w.imagenes.motion);
    }
}

}  // namespace
