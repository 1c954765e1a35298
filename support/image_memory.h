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

// Qt refuses pictures above 128 MB by default; a 2^28-pixel picture takes
// 1 GiB as RGB32, 2 GiB in the widest format the readers give (16-bit RGBA).
// The limit is raised to what a picture of the expected size takes in that
// format and no further: a reader may make a picture larger than the size it
// reported (Qt's GIF reader reports its first frame, then draws the whole
// canvas), and a few bytes must not buy a gigabyte. It is process-wide, so
// it is put back when this goes.
class AllocationLimit {
  public:
    explicit AllocationLimit(QSize expected);
    ~AllocationLimit();
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;

  private:
    int saved_;
};
