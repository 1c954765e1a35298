// Pictures whose pixels cannot be had end in the out-of-memory report, as a
// failed std::vector or new does; QImage only hands back a null image.
#pragma once

#include <QImage>
#include <QSize>

class QImageReader;

// A picture of that size and format; throws RunError(kErrOutOfMemory) when
// its pixels cannot be allocated, RunError(kErrInvalidArgument) for an empty
// or negative size.
QImage allocatedImage(int width, int height, QImage::Format format);

// source.convertToFormat(format), throwing RunError(kErrOutOfMemory) when the
// copy cannot be allocated. A null source is refused as no picture.
QImage convertedImage(const QImage& source, QImage::Format format);

// The failure of a read that gave a null picture: out of memory when the
// header's size was fine but a picture of it cannot be allocated now, else
// the reader's own message (kErrInvalidPicture). Always throws.
[[noreturn]] void throwReadFailure(const QImageReader& reader, QSize headerSize,
                                   const QString& path);
