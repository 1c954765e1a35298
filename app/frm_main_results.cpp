// What the window shows of the operations' results, and RAW files dropped on
// the window.
#include "app/frm_main.h"
#include "app/preview_box.h"
#include "app/viewer_window.h"
#include "develop/patch.h"
#include "develop/raw_set.h"
#include "support/paths.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

namespace {

QStringList droppedFiles(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

// A file either decoder may read, as the dialog's RAW filter lists them.
bool isRawFile(const QString& path) {
    return ExisteArchivo(path) && rawExtensions().contains(QFileInfo(path).suffix().toLower());
}

}  // namespace

QString frmMain::resultCaption(ResultKind kind, const QString& path) {
    QString what;
    switch (kind) {
        case ResultKind::Histogram:
            what = QStringLiteral("Histogram: ");
            break;
        case ResultKind::Map:
            what = QStringLiteral("Map: ");
            break;
        case ResultKind::Output:
            what = QStringLiteral("Output: ");
            break;
        case ResultKind::Sheet:
            what = QStringLiteral("Sheet: ");
            break;
        case ResultKind::Moving:
            what = QStringLiteral("Moving areas: ");
            break;
    }
    return what + QFileInfo(path).fileName();
}

namespace {

PictureKind pictureKind(ResultKind kind) {
    switch (kind) {
        case ResultKind::Histogram:
            return PictureKind::Histogram;
        case ResultKind::Map:
            return PictureKind::Map;
        case ResultKind::Output:
            return PictureKind::Output;
        case ResultKind::Sheet:
            return PictureKind::Sheet;
        case ResultKind::Moving:
            return PictureKind::MovingAreas;
    }
    return PictureKind::Preview;
}

}  // namespace

void frmMain::keepResult(ResultKind kind, const QString& path, const QImage& picture) {
    keptResult_ = KeptResult{kind, path, picture};
    // The viewer offers every file made, whether the box shows it or not.
    switch (kind) {
        case ResultKind::Histogram:
            files_.histogram.made(path);
            break;
        case ResultKind::Map:
            files_.map.made(path);
            // A map built without deghosting has no moving areas; one built
            // with it tells them next.
            files_.movingAreas = {};
            break;
        case ResultKind::Moving:
            files_.movingAreas.made(path);
            movingAreasMap_ = files_.map.path;
            break;
        case ResultKind::Output:
            files_.output.made(path);
            files_.outputBlend = imagenes.lastBlend;  // the blend that wrote it
            break;
        case ResultKind::Sheet:
            files_.sheet.made(path);
            break;
    }
}

void frmMain::setFilesChanged() {
    // Frames the viewer has read are read again only when they may differ.
    FramesState now = framesState(imagenes);
    if (!(now == framesSeen_)) {
        framesSeen_ = std::move(now);
        ++files_.frames;
    }
    if (viewer_) viewer_->refresh();
}

void frmMain::cmdView_Click() {
    if (!pctImagen->showingSomething()) return;
    if (!viewer_) viewer_ = std::make_unique<ViewerWindow>(*this);
    viewer_->open(pctImagen->showingResult() ? boxKind_ : PictureKind::Preview);
}

void frmMain::showLatestResult() {
    const std::optional<KeptResult> kept = std::move(keptResult_);
    keptResult_.reset();
    // A file removed meanwhile is not shown: the preview stays as it was.
    if (!kept || kept->picture.isNull() || !ExisteArchivo(kept->path)) return;
    const QSize fitted = tamanoMostrado(pctImagen->innerWidth(), pctImagen->innerHeight(),
                                        kept->picture.width(), kept->picture.height());
    if (fitted.isEmpty()) return;
    boxKind_ = pictureKind(kept->kind);
    pctImagen->showResult(
        kept->picture.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
        resultCaption(kept->kind, kept->path));
}

void frmMain::dropRawFiles(const QStringList& paths) {
    if (busy() || paths.isEmpty()) return;  // refused as a click on "..." is
    try {
        if (!decoderInstalled(decoderSetting(), decoderPaths(), reporter_)) return;
        const QString chosen = paths.first();
        if (!isRawFile(chosen) || chosen == txtRuta->text()) {
            reporter_.showMessage(QStringLiteral("Orrindale"),
                                  QStringLiteral("No file has been selected"));
            return;
        }
        useReference(chosen);
        if (paths.size() > 1)
            reporter_.EscribirEstado(
                QString::number(paths.size()) + QStringLiteral(" files dropped: ") +
                    NombreArchivo(txtRuta->text()) + QStringLiteral(" used, the others ignored"),
                true);
    } catch (...) {
        reporter_.InformarError(QStringLiteral("cmdLoadImage"));
    }
}

bool frmMain::handleFileDrag(QEvent* event) {
    const auto type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
    auto* drop = static_cast<QDropEvent*>(event);
    const QStringList paths = droppedFiles(drop->mimeData());
    if (paths.isEmpty()) return false;  // text for a text box, say
    if (busy()) {
        drop->ignore();  // the pointer shows the refusal
        return true;
    }
    drop->acceptProposedAction();
    if (type == QEvent::Drop) dropRawFiles(paths);
    return true;
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    handleFileDrag(event);
}
void frmMain::dragMoveEvent(QDragMoveEvent* event) {
    handleFileDrag(event);
}
void frmMain::dropEvent(QDropEvent* event) {
    handleFileDrag(event);
}
