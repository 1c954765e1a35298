// PNG encoding on Qt's writer with an atomic replace of the target.
#include "support/png_writer.h"

#include "support/errors.h"

#include <QImageWriter>
#include <QSaveFile>

void writePng(const QImage& picture, const QString& path, int quality) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw RunError(kErrFileAccess, file.errorString() + QStringLiteral(": ") + path);
    QImageWriter writer(&file, "png");
    if (quality >= 0) writer.setQuality(quality);
    const bool written = writer.write(picture);
    // QSaveFile only remembers failures of the writes it passes on at once:
    // the bytes still buffered go out at commit, where a full disk would go
    // unseen and a truncated file would replace the old one. Flushed here,
    // their failure cancels the save.
    if (!written || !file.flush() || !file.commit())
        throw RunError(kErrFileAccess,
                       (written ? file.errorString() : writer.errorString()) + ": " + path);
}
