// RAW files dropped on the window: the first becomes the reference as with
// "...", the rest are named as ignored; folders, other files and drops while
// an operation runs are refused.
#include "tests/app/development_fixture.h"

#include "app/busy_scope.h"

#include <QDropEvent>
#include <QMimeData>

namespace {

class DropTest : public DevelopmentTest {
  protected:
    // Drops local files on `target` (the window itself by default).
    void drop(const QStringList& paths, QWidget* target = nullptr) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
        data.setUrls(urls);
        // As a drag does: it enters first, which makes the widget the target.
        QWidget* at = target ? target : window.get();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(at, &enter);
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(at, &event);
    }
};

TEST_F(DropTest, OneFileIsChosenAsWithTheDialog) {
    const QString folder = makeSet({"IMG_1.CR2", "IMG_2.CR2"});
    drop({folder + "IMG_2.CR2"}, window->txtDCRAW);  // a text box takes it too
    frmMain& w = *window;
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(w.ArchivosRAW, (QStringList{"IMG_1.CR2", "IMG_2.CR2"}));
    EXPECT_EQ(w.txtRuta->text(), folder + "IMG_2.CR2");
    EXPECT_EQ(w.txtDCRAW->text(), "");
    EXPECT_EQ(logLines(), (QStringList{"Quick developing IMG_2.CR2..."}));
    develop(folder + "IMG_2.CR2");
    ASSERT_TRUE(displayed());
    EXPECT_TRUE(w.cmdDevelop->isEnabled());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DropTest, SeveralFilesUseTheFirstAndSaySo) {
    const QString folder = makeSet({"a.nef", "b.nef", "c.nef"});
    drop({folder + "b.nef", folder + "c.nef", folder + "a.nef"});
    EXPECT_EQ(window->txtRuta->text(), folder + "b.nef");
    EXPECT_EQ(logLines(), (QStringList{"Quick developing b.nef...",
                                       "3 files dropped: b.nef used, the others ignored"}));
    EXPECT_EQ(fake->calls.size(), 1u);
}

TEST_F(DropTest, FoldersOtherFilesAndBusyDropsAreRefused) {
    const QString folder = makeSet({"a.dng", "notes.txt"});
    const struct {
        QString path;
        bool busy;
        size_t boxes;
    } cases[] = {
        {folder, false, 1},                // a folder
        {folder + "notes.txt", false, 2},  // not a RAW file
        {folder + "a.dng", true, 2},       // an operation runs: nothing at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        std::optional<BusyScope> busy;
        if (c.busy) busy.emplace(*window);
        drop({c.path});
        ASSERT_EQ(boxes.size(), c.boxes);
        EXPECT_EQ(boxes.back().title, "Orrindale");
        EXPECT_EQ(boxes.back().text, "No file has been selected");
        EXPECT_TRUE(window->txtRuta->text().isEmpty());
        EXPECT_TRUE(fake->calls.empty());
    }
}

}  // namespace
