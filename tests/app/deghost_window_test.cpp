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

using DeghostWindowTest = WindowTest;

TEST_F(DeghostWindowTest, BuildMapTellsAndShowsTheMovingAreas) {
    frmMain& w = *window;
    const QWidget* frame = w.frmMap;
    EXPECT_EQ(w.chkDeghost->parentWidget(), frame);
    EXPECT_EQ(w.chkDeghost->text(), "Deghost");
    EXPECT_FALSE(w.chkDeghost->isChecked());
    EXPECT_TRUE(frame->rect().contains(w.chkDeghost->geometry()));
    for (const QWidget* other : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(other == w.chkDeghost ||
                    !other->geometry().intersects(w.chkDeghost->geometry()))
            << other->objectName().toStdString();

    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const MovingScene scene{.x = 50, .y = 40, .w = 24, .h = 30, .dx = 20};
    w.imagenes = diskSet(folder, movingFrames(scene), scene.gap);
    w.estado.ImagenMostrada = true;
    w.txtRuta->setText(folder + "IMG_1.CR2");
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
            EXPECT_TRUE(moving == -1 && pictures.isEmpty());
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
