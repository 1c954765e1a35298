// GIF files through giflib: exact palette for pictures of at most 256
// colours, a quantised palette otherwise.
#pragma once

#include <QImage>
#include <QString>

// Throws RunError on failure. The file gets the usual permissions.
void writeGif(const QImage& picture, const QString& path);
