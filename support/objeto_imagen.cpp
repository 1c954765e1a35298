// Picture object on QImage: loading, resampling, gamma, direct-pixel drawing
// and PNG/GIF saving.
#include "support/objeto_imagen.h"

#include "support/errors.h"
#include "support/gif_writer.h"
#include "support/image_memory.h"
#include "support/parallel.h"
#include "support/png_writer.h"
#include "support/screen_tone.h"
#include "support/tiff_io.h"

#include <QClipboard>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

QRgb toQRgb(uint32_t packed) {
    return qRgb(static_cast<int>(packed & 255), static_cast<int>((packed >> 8) & 255),
                static_cast<int>((packed >> 16) & 255));
}

bool looksLikeTiff(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = f.read(4);
    return head == QByteArray("II*\0", 4) || head == QByteArray("MM\0*", 4);
}

// Contributions of source cells to one destination cell along one axis.
struct Span {
    int first;
    std::vector<double> weights;
};

std::vector<Span> coverage(int srcSize, int dstSize) {
    std::vector<Span> spans(static_cast<size_t>(dstSize));
    const double scale = static_cast<double>(srcSize) / dstSize;
    for (int d = 0; d < dstSize; ++d) {
        const double a = d * scale, b = (d + 1) * scale;
        Span& s = spans[static_cast<size_t>(d)];
        s.first = static_cast<int>(std::floor(a));
        const int last = std::min(srcSize - 1, static_cast<int>(std::ceil(b)) - 1);
        for (int i = s.first; i <= last; ++i)
            s.weights.push_back((std::min<double>(b, i + 1) - std::max<double>(a, i)) / scale);
    }
    return spans;
}

}  // namespace

GflBitmap resizeAreaAverage(const GflBitmap& src, int width, int height) {
    if (src.empty() || width <= 0 || height <= 0)
        throw RunError(kErrInvalidArgument, QStringLiteral("Invalid picture size"));
    const std::vector<Span> cols = coverage(src.width, width);
    const std::vector<Span> rows = coverage(src.height, height);
    GflBitmap dst;
    dst.width = width;
    dst.height = height;
    dst.pixels.resize(dst.sampleCount());
    parallelRows(height, 8, [&](const RowBand& band) {
        std::vector<double> line(static_cast<size_t>(width) * 3);
        std::vector<double> acc(static_cast<size_t>(width) * 3);
        for (int y = band.begin; y < band.end; ++y) {
            std::fill(acc.begin(), acc.end(), 0.0);
            const Span& rs = rows[static_cast<size_t>(y)];
            for (size_t k = 0; k < rs.weights.size(); ++k) {
                const uint16_t* in = src.row(rs.first + static_cast<int>(k));
                for (int x = 0; x < width; ++x) {
                    const Span& cs = cols[static_cast<size_t>(x)];
                    double r = 0, g = 0, b = 0;
                    const uint16_t* p = in + static_cast<size_t>(cs.first) * 3;
                    for (double w : cs.weights) {
                        r += w * p[0];
                        g += w * p[1];
                        b += w * p[2];
                        p += 3;
                    }
                    line[x * 3] = r;
                    line[x * 3 + 1] = g;
                    line[x * 3 + 2] = b;
                }
                const double wy = rs.weights[k];
                for (size_t i = 0; i < acc.size(); ++i) acc[i] += wy * line[i];
            }
            uint16_t* out = dst.row(y);
            for (size_t i = 0; i < acc.size(); ++i)
                out[i] = static_cast<uint16_t>(std::clamp(std::lround(acc[i]), 0L, 65535L));
        }
    });
    return dst;
}

void ObjetoImagen::Cargar(const QString& path) {
    if (!QFile::exists(path))
        throw RunError(kErrFileNotFound, QStringLiteral("File not found: ") + path);
    if (looksLikeTiff(path)) {
        auto deep = std::make_shared<GflBitmap>();
        try {
            readTiffRgb16(path, *deep);
        } catch (const TiffError& e) {
            throw RunError(kErrInvalidPicture, e.message());
        }
        deep_ = std::move(deep);
        image_ = QImage();
        return;
    }
    QImageReader reader(path);
    const QSize header = reader.size();
    QImage loaded = reader.read();
    if (loaded.isNull()) throwReadFailure(reader, header, path);
    image_ = convertedImage(loaded, QImage::Format_RGB32);
    deep_.reset();
}

void ObjetoImagen::Crear(int width, int height, uint32_t background) {
    if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxTiffPixels)
        throw RunError(kErrInvalidArgument, QStringLiteral("Invalid picture size"));
    QImage created = allocatedImage(width, height, QImage::Format_RGB32);
    created.fill(toQRgb(background));
    image_ = std::move(created);
    deep_.reset();
}

int ObjetoImagen::Ancho() const { return deep_ ? deep_->width : image_.width(); }
int ObjetoImagen::Alto() const { return deep_ ? deep_->height : image_.height(); }

void ObjetoImagen::Redimensionar(int width, int height) {
    if (isNull()) throw RunError(kErrInvalidPicture, QStringLiteral("No picture"));
    if (deep_) {
        deep_ = std::make_shared<GflBitmap>(resizeAreaAverage(*deep_, width, height));
        return;
    }
    // Same averaging for 8-bit pictures, through a 16-bit copy.
    GflBitmap wide;
    wide.width = image_.width();
    wide.height = image_.height();
    wide.pixels.resize(wide.sampleCount());
    for (int y = 0; y < wide.height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(image_.constScanLine(y));
        uint16_t* out = wide.row(y);
        for (int x = 0; x < wide.width; ++x) {
            out[x * 3] = static_cast<uint16_t>(qRed(in[x]) * 257);
            out[x * 3 + 1] = static_cast<uint16_t>(qGreen(in[x]) * 257);
            out[x * 3 + 2] = static_cast<uint16_t>(qBlue(in[x]) * 257);
        }
    }
    const GflBitmap small = resizeAreaAverage(wide, width, height);
    QImage result = allocatedImage(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* out = reinterpret_cast<QRgb*>(result.scanLine(y));
        const uint16_t* in = small.row(y);
        for (int x = 0; x < width; ++x)
            out[x] = qRgb((in[x * 3] + 128) / 257, (in[x * 3 + 1] + 128) / 257,
                          (in[x * 3 + 2] + 128) / 257);
    }
    image_ = std::move(result);
}

void ObjetoImagen::CorregirGamma(double gamma) {
    if (isNull()) throw RunError(kErrInvalidPicture, QStringLiteral("No picture"));
    if (!(gamma > 0)) throw RunError(kErrInvalidArgument, QStringLiteral("Invalid gamma"));
    if (deep_) {
        const std::vector<uint8_t> lut = gammaScreenTable(gamma);
        const GflBitmap& src = *deep_;
        QImage result = allocatedImage(src.width, src.height, QImage::Format_RGB32);
        parallelRows(src.height, 64, [&](const RowBand& band) {
            for (int y = band.begin; y < band.end; ++y) {
                const uint16_t* in = src.row(y);
                auto* out = reinterpret_cast<QRgb*>(result.scanLine(y));
                for (int x = 0; x < src.width; ++x)
                    out[x] = qRgb(lut[in[x * 3]], lut[in[x * 3 + 1]], lut[in[x * 3 + 2]]);
            }
        });
        image_ = std::move(result);
        deep_.reset();
        return;
    }
    uint8_t lut[256];
    for (int v = 0; v < 256; ++v)
        lut[v] = static_cast<uint8_t>(std::lround(255.0 * std::pow(v / 255.0, 1.0 / gamma)));
    for (int y = 0; y < image_.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
        for (int x = 0; x < image_.width(); ++x)
            line[x] = qRgb(lut[qRed(line[x])], lut[qGreen(line[x])], lut[qBlue(line[x])]);
    }
}

void ObjetoImagen::ensure8Bit() {
    if (!deep_) {
        if (image_.isNull()) throw RunError(kErrInvalidPicture, QStringLiteral("No picture"));
        return;
    }
    CorregirGamma(1.0);
}

uint32_t ObjetoImagen::ColorEn(int x, int y) {
    ensure8Bit();
    if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height())
        throw RunError(kErrOutOfRange, QStringLiteral("Pixel outside the picture"));
    const QRgb c = reinterpret_cast<const QRgb*>(image_.constScanLine(y))[x];
    return packColor(qRed(c), qGreen(c), qBlue(c));
}

void ObjetoImagen::Punto(int x, int y) {
    ensure8Bit();
    if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return;
    reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = toQRgb(lineColor_);
}

void ObjetoImagen::Linea(int x1, int y1, int x2, int y2) {
    ensure8Bit();
    // Bresenham, both end points drawn.
    const int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
    const int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        Punto(x1, y1);
        if (x1 == x2 && y1 == y2) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x1 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y1 += sy;
        }
    }
}

void ObjetoImagen::Rectangulo(int x, int y, int width, int height) {
    if (width <= 0 || height <= 0) return;
    const int x2 = x + width - 1, y2 = y + height - 1;
    Linea(x, y, x2, y);
    Linea(x, y2, x2, y2);
    Linea(x, y, x, y2);
    Linea(x2, y, x2, y2);
}

void ObjetoImagen::RectanguloRelleno(int x, int y, int width, int height) {
    ensure8Bit();
    const int x0 = std::max(0, x), y0 = std::max(0, y);
    const int x1 = std::min(image_.width(), x + width), y1 = std::min(image_.height(), y + height);
    const QRgb c = toQRgb(fillColor_);
    for (int yy = y0; yy < y1; ++yy) {
        auto* line = reinterpret_cast<QRgb*>(image_.scanLine(yy));
        std::fill(line + x0, line + std::max(x0, x1), c);
    }
}

void ObjetoImagen::Circulo(int cx, int cy, int radius) {
    ensure8Bit();
    if (radius < 0) return;
    // Midpoint circle: eight symmetric points per step.
    int x = radius, y = 0, err = 1 - radius;
    while (x >= y) {
        const int pts[8][2] = {{x, y}, {y, x}, {-y, x}, {-x, y},
                               {-x, -y}, {-y, -x}, {y, -x}, {x, -y}};
        for (const auto& p : pts) Punto(cx + p[0], cy + p[1]);
        ++y;
        if (err < 0) {
            err += 2 * y + 1;
        } else {
            --x;
            err += 2 * (y - x) + 1;
        }
    }
}

void ObjetoImagen::Texto(const QString& text, int x, int y, uint32_t color) {
    ensure8Bit();
    drawPictureText(image_, text, x, y, color);
}

void drawPictureText(QImage& image, const QString& text, int x, int y, uint32_t color) {
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    font.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(font);
    painter.setPen(QColor(toQRgb(color)));
    painter.drawText(QRect(x, y, 4096, 512), Qt::AlignLeft | Qt::AlignTop, text);
}

QImage ObjetoImagen::ImagenVisible() {
    ensure8Bit();
    return image_;
}

void ObjetoImagen::CopiarPortapapeles() {
    ensure8Bit();
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) throw RunError(kErrGeneric, QStringLiteral("No clipboard"));
    clipboard->setImage(image_);
}

void ObjetoImagen::FormatoGuardado(int format) {
    if (format != kFormatoGif && format != kFormatoPng)
        throw RunError(kErrInvalidArgument, QStringLiteral("Unknown picture format"));
    format_ = format;
}

void ObjetoImagen::Guardar(const QString& path) {
    ensure8Bit();
    if (format_ == kFormatoGif) {
        writeGif(image_, path);
        return;
    }
    // Grey pictures (maps) are written as 8-bit grey PNGs.
    bool grey = true;
    for (int y = 0; grey && y < image_.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image_.constScanLine(y));
        for (int x = 0; x < image_.width(); ++x)
            if (qRed(line[x]) != qGreen(line[x]) || qGreen(line[x]) != qBlue(line[x])) {
                grey = false;
                break;
            }
    }
    writePng(grey ? convertedImage(image_, QImage::Format_Grayscale8) : image_, path);
}
