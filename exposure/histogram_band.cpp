// Drawing of the exposure histogram: one band of 128 rows per pair.
#include "exposure/histogram_band.h"

#include "exposure/exposure_scan.h"
#include "support/numbers.h"

#include <algorithm>

void drawHistogramBand(ObjetoImagen& picture, const std::vector<uint64_t>& bins, int k,
                       int medianBin) {
    const int top = kBandHeight * (k - 2);
    const int bottom = top + kBandHeight - 1;  // y grows downwards

    std::vector<uint64_t> columns(kHistogramWidth, 0);
    for (size_t b = 0; b < bins.size() && b < static_cast<size_t>(kHistogramBins); ++b)
        columns[b / 8] += bins[b];
    const uint64_t tallest = *std::max_element(columns.begin(), columns.end());

    picture.ColorLinea(packColor(0, 0, 0));
    for (int j = 0; j < kHistogramWidth; ++j) {
        const uint64_t c = columns[static_cast<size_t>(j)];
        if (c == 0) continue;
        const int height = static_cast<int>(
            roundHalfEven(static_cast<double>(c) / static_cast<double>(tallest) * 127));
        picture.Linea(j, bottom, j, bottom - height);
    }

    picture.ColorLinea(packColor(192, 192, 192));
    for (int l = 1; l <= 8; ++l)
        for (int y = top; y <= bottom; y += 2) picture.Punto(125 * l, y);

    for (int m = 0; m <= 8; ++m)
        picture.Texto(
            (m == 0 ? QString() : QStringLiteral("+")) + QString::number(m) + QStringLiteral("EV"),
            125 * m + 2, top, packColor(0, 0, 0));

    // The median's column; bins from 8188 on give 1024, just outside the
    // picture, where drawing clips.
    const uint32_t red = packColor(255, 0, 0);
    picture.ColorLinea(red);
    const int x = static_cast<int>(roundHalfEven(medianBin / 8.0));
    picture.Linea(x, top, x, bottom);
    const double ev = roundHalfEven(medianBin * 1.00000000001 / 10) / 100;
    picture.Texto((medianBin == 0 ? QString() : QStringLiteral("+")) + shortestDecimal(ev) +
                      QStringLiteral("EV"),
                  x + 20, bottom - 70, red);
}
