// RAW files dropped on the window: the first becomes the reference as with
// "...", the rest are named as ignored; folders, other files and drops while
// an operation runs are refused.
#include "tests/app/development_fixture.h"

#include "app/busy_scope.h"

#include <QMimeData>

namespace {

class DropTest : public DevelopmentTest {
  protected:
    // Drags local files onto `target` and drops them, as a file manager does.
    void drop(const QStringList& paths, QWidget* target) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
    }
};

TEST_F(DropTest, TheFirstFileIsChosenAsWithTheDialog) {
    const QString folder = makeSet({"a.nef", "b.nef", "c.nef"});
    drop({folder + "b.nef"}, window->txtDCRAW);  // a text box passes it on
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(window->ArchivosRAW, (QStringList{"a.nef", "b.nef", "c.nef"}));
    EXPECT_EQ(window->txtDCRAW->text(), "");
    EXPECT_EQ(logLines(), (QStringList{"Quick developing b.nef..."}));
    develop(folder + "b.nef");
    ASSERT_TRUE(displayed());
    drop({folder + "c.nef", folder + "a.nef"}, window.get());
    EXPECT_EQ(window->txtRuta->text(), folder + "c.nef");
    EXPECT_EQ(logLines(), (QStringList{"Quick developing c.nef...",
                                       "2 files dropped: c.nef used, the others ignored"}));
    EXPECT_EQ(fake->calls.size(), 2u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DropTest, FoldersOtherFilesAndBusyDropsAreRefused) {
    const QString folder = makeSet({"a.dng", "notes.txt"});
    const std::tuple<QString, bool, size_t> cases[] = {
        {folder, false, 1}, {folder + "notes.txt", false, 2}, {folder + "a.dng", true, 2}};
    for (const auto& [path, busy, count] : cases) {
        std::optional<BusyScope> running;
        if (busy) running.emplace(*window);
        drop({path}, window.get());
        ASSERT_EQ(boxes.size(), count) << path.toStdString();
        EXPECT_EQ(boxes.back().text, "No file has been selected");
        EXPECT_TRUE(fake->calls.empty());
    }
}

}  // namespace
