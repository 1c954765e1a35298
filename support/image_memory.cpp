// Allocation checks for QImage, which signals a failed allocation with a null
// image rather than an exception.
#include "support/image_memory.h"

#include "support/errors.h"

#include <QImageReader>

namespace {

[[noreturn]] void outOfMemory() {
    throw RunError(kErrOutOfMemory, QStringLiteral("Out of memory"));
}

}  // namespace

QImage allocatedImage(int width, int height, QImage::Format format) {
    if (width <= 0 || height <= 0)
        throw RunError(kErrInvalidArgument, QStringLiteral("Invalid picture size"));
    QImage image(width, height, format);
    if (image.isNull()) outOfMemory();
    return image;
}

QImage convertedImage(const QImage& source, QImage::Format format) {
    if (source.isNull()) throw RunError(kErrInvalidPicture, QStringLiteral("No picture"));
    QImage converted = source.convertToFormat(format);
    if (converted.isNull()) outOfMemory();
    return converted;
}

void throwReadFailure(const QImageReader& reader, QSize headerSize, const QString& path) {
    const QString message = reader.errorString() + QStringLiteral(": ") + path;
    // Within the reader's own size limit a header that parsed means the
    // pixels were wanted; if a picture that size cannot be had now, memory
    // was what failed. Over the limit the reader refused it: its message says so.
    const int limitMb = QImageReader::allocationLimit();
    if (headerSize.isValid() && !headerSize.isEmpty()) {
        const qint64 bytes = qint64(headerSize.width()) * headerSize.height() * 4;
        if (limitMb == 0 || bytes <= qint64(limitMb) * 1024 * 1024) {
            const QImage probe(headerSize, QImage::Format_RGB32);
            if (probe.isNull()) outOfMemory();
        }
    }
    throw RunError(kErrInvalidPicture, message);
}

AllocationLimit::AllocationLimit(QSize expected) : saved_(QImageReader::allocationLimit()) {
    const long long bytes = static_cast<long long>(expected.width()) * expected.height() * 8;
    const int needed = static_cast<int>(bytes / (1024 * 1024)) + 1;
    if (saved_ != 0 && needed > saved_) QImageReader::setAllocationLimit(needed);
}

AllocationLimit::~AllocationLimit() {
    QImageReader::setAllocationLimit(saved_);
}
