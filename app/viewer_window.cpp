// The viewer window: its list of pictures, the keys, the read-out line, and
// what it does while an operation of the main window runs.
#include "app/viewer_window.h"

#include "app/frm_main.h"
#include "app/viewer_canvas.h"
#include "support/errors.h"
#include "support/numbers.h"
#include "support/tiff_io.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kChanged = QStringLiteral("file changed or missing");
const QString kWaiting = QStringLiteral("waiting for the running operation to end");
const QString kDot = QStringLiteral(" \u00b7 ");

// Why a picture could not be shown, for the read-out line: never a box.
QString failure(const QString& name) {
    try {
        throw;
    } catch (const RunError& e) {
        if (e.number() == kErrFileNotFound) return kChanged;
        if (e.number() == kErrOutOfMemory)
            return QStringLiteral("not enough memory to show ") + name;
        return QStringLiteral("cannot show ") + name + QStringLiteral(": ") + e.what();
    } catch (const TiffError& e) {
        return QStringLiteral("cannot show ") + name + QStringLiteral(": ") + e.message();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("not enough memory to show ") + name;
    } catch (...) {
        return QStringLiteral("cannot show ") + name;
    }
}

}  // namespace

ViewerWindow::ViewerWindow(frmMain& main) : QWidget(nullptr, Qt::Window), main_(main) {
    setObjectName(QStringLiteral("frmViewer"));
    setAttribute(Qt::WA_QuitOnClose, false);  // the main window decides when the program ends
    list_ = new QComboBox(this);
    list_->setObjectName(QStringLiteral("cmbPicture"));
    list_->setFocusPolicy(Qt::NoFocus);  // the keys are the viewer's
    // One width for every name: switching pictures never resizes the view.
    list_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    list_->setMinimumContentsLength(13);
    list_->setToolTip(QStringLiteral("Picture shown; B flips back to the one before"));
    zoom_ = new QLabel(this);
    zoom_->setObjectName(QStringLiteral("lblZoom"));
    auto* keys = new QLabel(
        QStringLiteral("0 fit \u00b7 1 100 % \u00b7 2 200 % \u00b7 4 400 % \u00b7 5 50 % \u00b7 "
                       "B flip \u00b7 wheel zoom \u00b7 drag pan"),
        this);
    keys->setEnabled(false);  // a hint, greyed
    keys->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Cut short rather than widen the window (and move the picture) on a
    // small screen; the read-out line below likewise.
    keys->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    canvas_ = new ViewerCanvas(this);
    canvas_->setObjectName(QStringLiteral("pctViewer"));
    readout_ = new QLabel(this);
    readout_->setObjectName(QStringLiteral("lblReadout"));
    readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    readout_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* top = new QHBoxLayout;
    top->addWidget(list_);
    top->addSpacing(12);
    top->addWidget(zoom_);
    top->addWidget(keys, 1);  // takes the rest of the row, right-aligned
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 4);
    layout->setSpacing(4);
    layout->addLayout(top);
    layout->addWidget(canvas_, 1);
    layout->addWidget(readout_);

    connect(list_, &QComboBox::activated, this, [this](int index) { select(index); });
    connect(canvas_, &ViewerCanvas::pointerChanged, this, [this] { updateReadout(); });
    connect(canvas_, &ViewerCanvas::placementChanged, this, [this] { updateZoom(); });
}

ViewerWindow::~ViewerWindow() {
    stopLevels();
}

const PictureEntry* ViewerWindow::shownEntry() const {
    return current_ >= 0 && current_ < static_cast<int>(items_.size())
               ? &items_[static_cast<size_t>(current_)].entry
               : nullptr;
}

void ViewerWindow::open(PictureKind kind) {
    if (!placed_) {
        placed_ = true;
        const QRect screen = main_.screen()->availableGeometry();
        resize(screen.size() * 0.8);
        move(screen.center() - rect().center());
    }
    if (!isVisible()) canvas_->fit();  // a new look starts with the whole picture
    const std::optional<PictureEntry> before =
        shownEntry() ? std::optional<PictureEntry>(*shownEntry()) : std::nullopt;
    takeList();
    current_ = before ? indexOf(keyOf(*before)) : -1;
    int index = 0;
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].entry.kind == kind) {
            index = static_cast<int>(i);
            break;
        }
    show();
    raise();
    activateWindow();
    canvas_->setFocus();
    // The picture already on screen is not read again.
    if (index == current_ && before == items_[static_cast<size_t>(index)].entry && shown_) {
        list_->setCurrentIndex(index);
        return;
    }
    select(items_.empty() ? -1 : index);
}

void ViewerWindow::refresh() {
    if (!isVisible()) return;
    const std::optional<PictureEntry> before =
        shownEntry() ? std::optional<PictureEntry>(*shownEntry()) : std::nullopt;
    takeList();
    current_ = before ? indexOf(keyOf(*before)) : -1;
    list_->setCurrentIndex(current_);
    // The same picture stays on screen; a new one (or one that waited for
    // the operation to end) is read now.
    if (current_ >= 0 &&
        (waiting_ || !before || *before != items_[static_cast<size_t>(current_)].entry))
        load();
    else if (current_ < 0 && before)
        select(items_.empty() ? -1 : 0);
    else
        updateReadout();
}

void ViewerWindow::takeList() {
    std::vector<Item> fresh;
    for (PictureEntry& entry : picturesOfSet(main_.imagenes, main_.setFiles())) {
        Item item{std::move(entry), nullptr};
        // A picture listed before keeps its source, and with it the file it
        // opened: what it read stays readable when the file goes.
        for (Item& old : items_)
            if (old.entry == item.entry) item.source = std::move(old.source);
        // Files are opened as soon as they are listed.
        if (!item.source && item.entry.kind != PictureKind::Frame) try {
                item.source = openPicture(item.entry, main_.imagenes, main_.setFiles());
            } catch (...) {
                // Missing: told when it is chosen.
            }
        fresh.push_back(std::move(item));
    }
    items_ = std::move(fresh);
    QStringList labels;
    for (const Item& item : items_) labels << item.entry.label;
    // An open list is not closed under the user's hand when nothing changed.
    QStringList listed;
    for (int i = 0; i < list_->count(); ++i) listed << list_->itemText(i);
    if (labels == listed) return;
    list_->clear();
    list_->addItems(labels);
}

int ViewerWindow::indexOf(const std::optional<Key>& key) const {
    if (!key) return -1;
    for (size_t i = 0; i < items_.size(); ++i)
        if (keyOf(items_[i].entry) == *key) return static_cast<int>(i);
    return -1;
}

void ViewerWindow::select(int index) {
    if (index >= static_cast<int>(items_.size())) return;
    if (index != current_ && shownEntry()) previous_ = keyOf(*shownEntry());
    current_ = index;
    list_->setCurrentIndex(index);
    load();
}

void ViewerWindow::flip() {
    const int index = indexOf(previous_);
    if (index >= 0 && index != current_) select(index);
}

void ViewerWindow::load() {
    message_.clear();
    stale_ = false;
    const PictureEntry* entry = shownEntry();
    setWindowTitle(QStringLiteral("Orrindale viewer \u2014 ") +
                   (entry ? QFileInfo(entry->path).fileName() : QString()));
    // A file an operation is writing, or a set it is changing, is read once
    // the operation has ended (refresh).
    waiting_ = entry && main_.busy();
    // One picture in memory at a time: the last goes before the next comes.
    stopLevels();
    canvas_->clearPicture();
    shown_.reset();
    if (!entry || waiting_) {
        updateReadout();
        return;
    }
    Item& item = items_[static_cast<size_t>(current_)];
    try {
        if (!item.source) item.source = openPicture(item.entry, main_.imagenes, main_.setFiles());
        stale_ = !item.source->unchanged();
        shown_ = std::make_shared<PicturePyramid>(item.source->screenPicture());
        canvas_->setPicture(shown_);
        startLevels();
        // What the notes need (the output's map) comes once the picture shows.
        QTimer::singleShot(0, this, [this, source = item.source.get()] {
            if (shownEntry() && items_[static_cast<size_t>(current_)].source.get() == source) {
                source->prepareNotes();
                updateReadout();
            }
        });
    } catch (...) {
        shown_.reset();
        canvas_->clearPicture();
        message_ = failure(QFileInfo(item.entry.path).fileName());
    }
    updateReadout();
}

void ViewerWindow::startLevels() {
    stopLevels();
    auto stop = std::make_shared<std::atomic<bool>>(false);
    stopLevels_ = stop;
    levels_ = std::thread([this, stop, picture = shown_] {
        std::vector<Rgb8Plane> levels;
        try {
            levels = PicturePyramid::reducedLevels(picture->level(0), *stop);
        } catch (...) {
            return;  // short of memory: the full level alone still shows all
        }
        {
            const std::lock_guard<std::mutex> lock(madeMutex_);
            if (!*stop) madeLevels_ = std::move(levels);
        }
        // Taken on the window's thread, where the views are drawn; levels a
        // newer picture has made stale are dropped by stopLevels meanwhile.
        QMetaObject::invokeMethod(
            this,
            [this, stop] {
                std::vector<Rgb8Plane> made;
                {
                    const std::lock_guard<std::mutex> lock(madeMutex_);
                    made = std::move(madeLevels_);
                }
                if (*stop || !shown_ || made.empty()) return;
                shown_->adoptLevels(std::move(made));
                canvas_->levelsAdded();
            },
            Qt::QueuedConnection);
    });
}

void ViewerWindow::stopLevels() {
    if (stopLevels_) *stopLevels_ = true;
    if (levels_.joinable()) levels_.join();
    const std::lock_guard<std::mutex> lock(madeMutex_);
    madeLevels_.clear();
}

void ViewerWindow::updateReadout() {
    QString text;
    const std::optional<QPoint> pixel = canvas_->pixelUnderPointer();
    const Item* item = shownEntry() ? &items_[static_cast<size_t>(current_)] : nullptr;
    if (waiting_) {
        text = kWaiting;
    } else if (!message_.isEmpty()) {
        text = message_;
    } else if (pixel && shown_ && item && item->source) {
        // A set an operation is changing is not read meanwhile.
        if (main_.busy() && item->entry.setRevision != 0)
            text = readoutLine(*pixel, {}, kWaiting);
        else
            text = readoutLine(*pixel,
                               item->source->samplesAt(pixel->x(), pixel->y(), shown_->level(0)),
                               item->source->noteAt(pixel->x(), pixel->y(), shown_->level(0)));
        if (stale_) text += kDot + kChanged;
    } else if (stale_) {
        text = kChanged;
    } else if (shown_) {
        text =
            QStringLiteral("%1 \u00d7 %2").arg(shown_->size().width()).arg(shown_->size().height());
    }
    readout_->setText(text);
}

void ViewerWindow::updateZoom() {
    const double percent = canvas_->placement().scale * 100;
    const QString value =
        shortestDecimal(percent >= 10 ? roundHalfEven(percent) : roundHalfEven(percent * 10) / 10) +
        QStringLiteral(" %");
    zoom_->setText(canvas_->fitting() ? QStringLiteral("Fit ") + value : value);
}

void ViewerWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_0:
            canvas_->fit();
            break;
        case Qt::Key_1:
            canvas_->actualPixels();
            break;
        case Qt::Key_2:
            canvas_->zoomTo(2);
            break;
        case Qt::Key_4:
            canvas_->zoomTo(4);
            break;
        case Qt::Key_5:
            canvas_->zoomTo(0.5);
            break;
        case Qt::Key_B:
            flip();
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
    // A closed viewer holds no picture and no file; the window keeps its
    // size and place for the next opening.
    stopLevels();
    canvas_->clearPicture();
    shown_.reset();
    items_.clear();
    list_->clear();
    current_ = -1;
    previous_.reset();
    waiting_ = false;
    event->accept();
}
