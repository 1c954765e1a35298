// Block-averaged small copies of pictures.
#include "support/reduced_picture.h"

#include "support/gfl_bitmap.h"
#include "support/image_memory.h"
#include "support/numbers.h"
#include "support/parallel.h"

#include <algorithm>
#include <vector>

namespace {

int ceilDiv(long long a, long long b) {
    return static_cast<int>((a + b - 1) / b);
}

// Pixels of the block that makes reduced pixel (rx, ry): partial at the edges.
long long blockPixels(int rx, int ry, int f, int width, int height) {
    const long long w = std::min(f, width - rx * f), h = std::min(f, height - ry * f);
    return w * h;
}

uint8_t averaged(uint64_t sum, long long pixels, double scale) {
    return static_cast<uint8_t>(std::min(
        255.0, roundHalfEven(static_cast<double>(sum) / static_cast<double>(pixels) / scale)));
}

}  // namespace

int reductionFactor(int width, int height) {
    return std::max(1, ceilDiv(std::max(width, height), kReducedSide));
}

QSize reducedSize(int width, int height) {
    const int f = reductionFactor(width, height);
    return QSize(ceilDiv(width, f), ceilDiv(height, f));
}

ReducedRgb16::ReducedRgb16(int width, int height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      factor_(reductionFactor(width_, height_)),
      size_(reducedSize(width_, height_)),
      sums_(new std::atomic<uint64_t>[static_cast<size_t>(size_.width()) * size_.height() * 3]()) {}

void ReducedRgb16::addRows(int first, int count, const uint16_t* rows) {
    const size_t cells = static_cast<size_t>(size_.width()) * 3;
    // The rows of one reduced row are summed here first, then added to the
    // shared sums at once: few atomic adds, whatever the factor.
    std::vector<uint64_t> line(cells, 0);
    const int last = std::min(height_, first + count);
    for (int y = first; y < last; ++y) {
        const uint16_t* p = rows + static_cast<size_t>(y - first) * width_ * 3;
        uint64_t* cell = line.data();
        for (int x0 = 0; x0 < width_; x0 += factor_, cell += 3) {
            uint64_t r = 0, g = 0, b = 0;
            for (const uint16_t* end = p + std::min(factor_, width_ - x0) * 3; p < end; p += 3) {
                r += p[0];
                g += p[1];
                b += p[2];
            }
            cell[0] += r;
            cell[1] += g;
            cell[2] += b;
        }
        if (y + 1 == last || (y + 1) % factor_ == 0) {
            std::atomic<uint64_t>* target = sums_.get() + static_cast<size_t>(y / factor_) * cells;
            for (size_t i = 0; i < cells; ++i)
                target[i].fetch_add(line[i], std::memory_order_relaxed);
            std::fill(line.begin(), line.end(), 0);
        }
    }
}

QImage ReducedRgb16::picture() const {
    if (size_.isEmpty()) return QImage();
    QImage out = allocatedImage(size_.width(), size_.height(), QImage::Format_RGB32);
    for (int ry = 0; ry < size_.height(); ++ry) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(ry));
        const std::atomic<uint64_t>* s = sums_.get() + static_cast<size_t>(ry) * size_.width() * 3;
        for (int rx = 0; rx < size_.width(); ++rx, s += 3) {
            const long long n = blockPixels(rx, ry, factor_, width_, height_);
            line[rx] = qRgb(averaged(s[0].load(), n, 257), averaged(s[1].load(), n, 257),
                            averaged(s[2].load(), n, 257));
        }
    }
    return out;
}

QImage reducedPicture(const QImage& picture) {
    if (picture.isNull()) return QImage();
    const bool grey = picture.format() == QImage::Format_Grayscale8;
    const QImage source = grey ? picture : convertedImage(picture, QImage::Format_RGB32);
    const int f = reductionFactor(source.width(), source.height());
    const QSize size = reducedSize(source.width(), source.height());
    QImage out = allocatedImage(size.width(), size.height(),
                                grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    // Each reduced row reads its own block of rows: bands never share a row.
    parallelRows(size.height(), 8, [&](const RowBand& band) {
        const int channels = grey ? 1 : 3;
        std::vector<uint64_t> sums(static_cast<size_t>(size.width()) * channels);
        for (int ry = band.begin; ry < band.end; ++ry) {
            std::fill(sums.begin(), sums.end(), 0);
            for (int y = ry * f; y < std::min(source.height(), (ry + 1) * f); ++y) {
                if (grey) {
                    const uchar* p = source.constScanLine(y);
                    for (int x = 0; x < source.width(); ++x)
                        sums[static_cast<size_t>(x / f)] += p[x];
                } else {
                    const auto* p = reinterpret_cast<const QRgb*>(source.constScanLine(y));
                    for (int x = 0; x < source.width(); ++x) {
                        uint64_t* c = sums.data() + static_cast<size_t>(x / f) * 3;
                        c[0] += static_cast<uint64_t>(qRed(p[x]));
                        c[1] += static_cast<uint64_t>(qGreen(p[x]));
                        c[2] += static_cast<uint64_t>(qBlue(p[x]));
                    }
                }
            }
            uchar* line = out.scanLine(ry);
            for (int rx = 0; rx < size.width(); ++rx) {
                const long long n = blockPixels(rx, ry, f, source.width(), source.height());
                if (grey) {
                    line[rx] = averaged(sums[static_cast<size_t>(rx)], n, 1);
                } else {
                    const uint64_t* c = sums.data() + static_cast<size_t>(rx) * 3;
                    reinterpret_cast<QRgb*>(line)[rx] =
                        qRgb(averaged(c[0], n, 1), averaged(c[1], n, 1), averaged(c[2], n, 1));
                }
            }
        }
    });
    return out;
}

RgbRows watchedRows(const RgbRows& rows, ReducedRgb16* copy, SharedProgress& progress) {
    RgbRows watched = rows;
    watched.fill = [fill = rows.fill, copy, &progress](int32_t first, int32_t count,
                                                       uint16_t* out) {
        fill(first, count, out);
        if (copy) copy->addRows(first, count, out);
        progress.done(count);
    };
    return watched;
}
