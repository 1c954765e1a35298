// PNG files through Qt, written beside their final name and renamed only
// when whole.
#pragma once

#include <QImage>
#include <QString>

// zlib effort as Qt's writer takes it: 0..100, higher is faster and larger;
// -1 is Qt's default.
constexpr int kPngQualityDefault = -1;
// zlib's fastest level: maps are mostly flat, so they stay small anyway.
constexpr int kPngQualityFast = 80;

// Throws RunError on failure; an existing file of that name is kept then.
void writePng(const QImage& picture, const QString& path, int quality = kPngQualityDefault);
// The same for an Indexed8 picture, written with its palette: one byte a
// pixel, a third of RGB's to compress.
void writePalettePng(const QImage& picture, const QString& path, int quality = kPngQualityDefault);
