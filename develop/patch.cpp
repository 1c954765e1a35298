// Preview geometry, patch outline and the patch white-balance measurement.
#include "develop/patch.h"

#include "support/gfl_bitmap.h"
#include "support/numbers.h"
#include "support/paths.h"
#include "support/reporter.h"

#include <algorithm>
#include <cmath>

QSize tamanoMostrado(int boxWidth, int boxHeight, int width, int height) {
    const double r = static_cast<double>(width) / height;
    if (static_cast<double>(boxWidth) / boxHeight < r)
        return QSize(boxWidth, static_cast<int>(roundToInt(boxWidth / r)));
    return QSize(static_cast<int>(roundToInt(boxHeight * r)), boxHeight);
}

namespace {
float correct(float v, int16_t size) {
    if (v <= 0) return 0.0f;
    if (v >= size) return 1.0f;
    return v / static_cast<float>(size);
}
}  // namespace

float CorrectX(float x, const PatchGeometry& g) { return correct(x, g.AnchoMostrado); }
float CorrectY(float y, const PatchGeometry& g) { return correct(y, g.AltoMostrado); }

QString lecturaCoordenada(double fraction) {
    return shortestDecimal(roundHalfEven(fraction * 1000) / 10);
}

PatchOutline contornoParche(const PatchGeometry& g, bool cuadrado) {
    const double w = g.AnchoMostrado, h = g.AltoMostrado;
    PatchOutline o;
    if (cuadrado) {
        o.cx = static_cast<int>(roundToInt(w * (g.PatchX0 + g.PatchX1) / 2));
        o.cy = static_cast<int>(roundToInt(h * (g.PatchY0 + g.PatchY1) / 2));
        o.left = static_cast<int>(roundToInt(w * std::min(g.PatchX0, g.PatchX1)));
        o.top = static_cast<int>(roundToInt(h * std::min(g.PatchY0, g.PatchY1)));
        // A drag that ends on the right or bottom edge gets no extra pixel.
        o.width = static_cast<int>(roundToInt(w * std::fabs(g.PatchX0 - g.PatchX1))) +
                  (g.PatchX1 == 1 ? 0 : 1);
        o.height = static_cast<int>(roundToInt(h * std::fabs(g.PatchY0 - g.PatchY1))) +
                   (g.PatchY1 == 1 ? 0 : 1);
    } else {
        o.cx = static_cast<int>(roundToInt(w * g.PatchX0));
        o.cy = static_cast<int>(roundToInt(h * g.PatchY0));
        const double dy = (g.PatchY0 - g.PatchY1) * h, dx = (g.PatchX0 - g.PatchX1) * w;
        o.radius = static_cast<int>(roundToInt(std::sqrt(dy * dy + dx * dx)));
    }
    return o;
}

void alternarForma(PatchGeometry& g, bool eraCuadrado) {
    if (eraCuadrado) {
        // The centre of the rectangle; the circle passes through its corner.
        g.PatchX0 = (g.PatchX1 + g.PatchX0) / 2;
        g.PatchY0 = (g.PatchY1 + g.PatchY0) / 2;
    } else {
        // The corner opposite (X1, Y1) through the centre; not clamped.
        g.PatchX0 = g.PatchX0 - (g.PatchX1 - g.PatchX0);
        g.PatchY0 = g.PatchY0 - (g.PatchY1 - g.PatchY0);
    }
}

int CalcularWBPatch(const QString& ruta, const PatchGeometry& g, bool cuadrado,
                    std::array<QString, 3>& txtWB, Reporter& reporter) {
    GflBitmap image;
    try {
        reporter.EscribirEstado(QStringLiteral("Calculating WB in patch..."), true);
        reporter.pause(200);
        if (CargarGflBitmap(tiffDeRaw(ruta), image, reporter)) {
            reporter.EscribirEstado(QStringLiteral("Error reading tiff file, please try again"),
                                    false);
            reporter.EscribirEstado(QStringLiteral("DONE"), true);
            return -1;
        }
        const int w = image.width, h = image.height;
        const int32_t threshold = static_cast<int32_t>(roundToInt(0.9 * 65535));  // 58982
        double sum[3] = {0, 0, 0};
        auto add = [&](int x, int y, bool strict) {
            const uint16_t* p = image.row(y) + static_cast<size_t>(x) * 3;
            const bool usable = strict ? (p[0] < threshold && p[1] < threshold && p[2] < threshold)
                                       : (p[0] <= threshold && p[1] <= threshold &&
                                          p[2] <= threshold);
            if (!usable) return;
            for (int c = 0; c < 3; ++c) sum[c] += p[c];
        };
        if (cuadrado) {
            // Both ends included; columns or rows beyond the image are not read.
            const long long x0 = roundToInt(w * std::min(g.PatchX0, g.PatchX1));
            const long long x1 = roundToInt(w * std::max(g.PatchX0, g.PatchX1));
            const long long y0 = roundToInt(h * std::min(g.PatchY0, g.PatchY1));
            const long long y1 = roundToInt(h * std::max(g.PatchY0, g.PatchY1));
            for (long long x = std::max(0LL, x0); x <= std::min<long long>(x1, w - 1); ++x)
                for (long long y = std::max(0LL, y0); y <= std::min<long long>(y1, h - 1); ++y)
                    add(static_cast<int>(x), static_cast<int>(y), false);
        } else {
            const double cx = w * g.PatchX0, cy = h * g.PatchY0;
            const double dy = (g.PatchY1 - g.PatchY0) * h, dx = (g.PatchX1 - g.PatchX0) * w;
            double r2 = dy * dy + dx * dx;
            if (r2 == 0) r2 = 1;
            const double r = std::sqrt(r2);
            const long long x0 = std::max(0LL, roundToInt(cx - r));
            const long long x1 = std::min<long long>(roundToInt(cx + r), w - 1);
            const long long y0 = std::max(0LL, roundToInt(cy - r));
            const long long y1 = std::min<long long>(roundToInt(cy + r), h - 1);
            for (long long x = x0; x <= x1; ++x)
                for (long long y = y0; y <= y1; ++y)
                    if ((y - cy) * (y - cy) + (x - cx) * (x - cx) <= r2)
                        add(static_cast<int>(x), static_cast<int>(y), true);
        }
        if (sum[1] * sum[0] * sum[2] == 0) {
            LiberarGflBitmap(image);
            reporter.EscribirEstado(QStringLiteral("Impossible to WB patch"), true);
            reporter.EscribirEstado(QStringLiteral("DONE"), true);
            reporter.MostrarError(QStringLiteral(
                "Impossible to WB patch, some channel is very low and/or insufficient sample"));
            return -1;
        }
        const double largest = std::max({sum[0], sum[1], sum[2]});
        for (int c = 0; c < 3; ++c)
            txtWB[static_cast<size_t>(c)] =
                shortestDecimal(roundHalfEven(largest / sum[c] * 1000) / 1000);
        LiberarGflBitmap(image);
        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        return 1;
    } catch (...) {
        reporter.InformarError(QStringLiteral("CalcularWBPatch"));
        LiberarGflBitmap(image);
        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        return -1;
    }
}
