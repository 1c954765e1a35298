// The picture object: an 8-bit RGB picture for the preview, drawings, maps,
// histograms and contact sheets. A picture loaded from a 16-bit TIFF stays in
// 16-bit linear form until its gamma is applied, so resizing averages light.
#pragma once

#include "support/gfl_bitmap.h"

#include <QImage>
#include <QString>
#include <cstdint>

// Packed colours have red in the low byte: red + 256 * green + 65536 * blue.
constexpr uint32_t packColor(int r, int g, int b) {
    return static_cast<uint32_t>(r) | (static_cast<uint32_t>(g) << 8) |
           (static_cast<uint32_t>(b) << 16);
}

enum FormatoImagen { kFormatoGif = 2, kFormatoPng = 3 };

// All operations throw RunError on failure (bad file, bad size, failed save).
class ObjetoImagen {
public:
    void Cargar(const QString& path);
    void Crear(int width, int height, uint32_t background);
    int Ancho() const;
    int Alto() const;
    // Area average; in linear 16-bit light when the picture has not been gamma
    // corrected yet.
    void Redimensionar(int width, int height);
    // Brightens by 1/gamma; a 16-bit picture becomes 8-bit here.
    void CorregirGamma(double gamma);
    uint32_t ColorEn(int x, int y);

    void ColorLinea(uint32_t color) { lineColor_ = color; }
    void ColorRelleno(uint32_t color) { fillColor_ = color; }
    // Drawing clips at the picture's edges; end points are included.
    void Punto(int x, int y);
    void Linea(int x1, int y1, int x2, int y2);
    void Rectangulo(int x, int y, int width, int height);
    void RectanguloRelleno(int x, int y, int width, int height);
    void Circulo(int cx, int cy, int radius);
    // Text with its top-left corner at (x, y), without anti-aliasing so that
    // drawings keep a small exact palette.
    void Texto(const QString& text, int x, int y, uint32_t color);

    ObjetoImagen Copia() const { return *this; }
    QImage ImagenVisible();
    void CopiarPortapapeles();
    void FormatoGuardado(int format);
    void Guardar(const QString& path);

    bool isNull() const { return !deep_ && image_.isNull(); }

private:
    void ensure8Bit();

    // 16-bit linear state before CorregirGamma (shared, copied on write).
    std::shared_ptr<const GflBitmap> deep_;
    QImage image_;  // Format_RGB32 once 8-bit
    uint32_t lineColor_ = 0;
    uint32_t fillColor_ = 0;
    int format_ = kFormatoPng;
};

// The picture object's text, on any QImage a painter takes (RGB32, grey):
// top-left corner at (x, y), no anti-aliasing.
void drawPictureText(QImage& image, const QString& text, int x, int y, uint32_t color);

// Area-average resampling of interleaved RGB16 (exact box coverage weights).
GflBitmap resizeAreaAverage(const GflBitmap& src, int width, int height);
