// The viewer: a window of its own beside the main window that shows a set's
// pictures at full resolution (the output, the map, each frame as the blend
// sees it, the RAW preview, the histogram, the contact sheet), zoomed and
// panned, with a read-out of the file's own samples under the pointer.
#pragma once

#include "pipeline/set_pictures.h"

#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

class frmMain;
class QComboBox;
class QLabel;
class ViewerCanvas;

class ViewerWindow : public QWidget {
    Q_OBJECT
  public:
    // Reads the set and its files from `main`, which outlives it.
    explicit ViewerWindow(frmMain& main);
    ~ViewerWindow() override;

    // Shows the window on the first picture of `kind`: placed and sized as
    // it was before in this session, at first at most 80 % of the screen.
    void open(PictureKind kind);
    // Takes the list of pictures again from the main window: a new output,
    // a reloaded set, an operation that has ended. The picture shown is read
    // again only when it is no longer the same.
    void refresh();

    QComboBox* pictureList() const { return list_; }
    ViewerCanvas* canvas() const { return canvas_; }
    QLabel* readout() const { return readout_; }
    QLabel* zoomLabel() const { return zoom_; }
    // The picture shown, or null.
    const PictureEntry* shownEntry() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    struct Item {
        PictureEntry entry;
        std::unique_ptr<PictureSource> source;
    };
    // A picture by what it is, whatever its file: the same key across lists.
    using Key = std::pair<PictureKind, int>;
    static Key keyOf(const PictureEntry& e) { return {e.kind, e.frame}; }

    // Makes the shown picture's reduced levels on a thread of their own, so
    // the full picture is on screen without waiting for them.
    void startLevels();
    void stopLevels();
    void takeList();
    int indexOf(const std::optional<Key>& key) const;
    void select(int index);
    void load();
    void flip();
    void updateReadout();
    void updateZoom();

    frmMain& main_;
    QComboBox* list_ = nullptr;
    QLabel* zoom_ = nullptr;
    ViewerCanvas* canvas_ = nullptr;
    QLabel* readout_ = nullptr;

    std::vector<Item> items_;
    int current_ = -1;
    std::optional<Key> previous_;  // what B flips back to
    // The picture on screen: only one is held at a time.
    std::shared_ptr<PicturePyramid> shown_;
    std::thread levels_;
    std::shared_ptr<std::atomic<bool>> stopLevels_;
    std::mutex madeMutex_;
    std::vector<Rgb8Plane> madeLevels_;  // made, not yet taken
    QString message_;                    // why nothing is shown
    bool stale_ = false;                 // the shown file changed or went since it was read
    bool waiting_ = false;               // an operation runs: nothing is read until it ends
    bool placed_ = false;                // the first opening has sized the window
};
