// Drawing the B&W contact sheet from the decimated map: the source samples
// are read once, then each of the 66 mixes is drawn from them.
#include "blend/contact_sheet.h"

#include "support/errors.h"
#include "support/image_memory.h"
#include "support/numbers.h"
#include "support/objeto_imagen.h"
#include "support/parallel.h"

#include <cmath>

namespace {

constexpr int kPesosMezcla[11] = {0, 2, 8, 18, 32, 50, 68, 82, 92, 98, 100};

// One decimated sample: a whole position keeps the image's raw channels and
// its factor (the weighted integer sum comes first); a fractional one the
// exposure-corrected mix of its two images.
struct Sample {
    bool whole = true;
    int32_t r = 0, g = 0, b = 0;    // whole: the 16-bit channels
    double factor = 0;              // whole: ExpRelativas(k)
    double mr = 0, mg = 0, mb = 0;  // fractional: the mixed channels
};

uint8_t greyOf(double v, float gamma) {
    const double grey = roundHalfEven(std::pow(v / 65535, static_cast<double>(gamma)) * 255);
    return grey > 255 ? uint8_t{255} : static_cast<uint8_t>(grey);
}

std::vector<Sample> gatherSamples(const FrameSet& set, const DecimatedMap& map) {
    const int dw = map.width, dh = map.height;
    std::vector<Sample> gathered(map.positions.size());
    parallelRows(dh, 16, [&](const RowBand& band) {
        for (int y = band.begin; y < band.end; ++y)
            for (int x = 0; x < dw; ++x) {
                const float p = map.positions[static_cast<size_t>(y) * dw + x];
                const int k = static_cast<int>(p);
                const uint16_t* a = set.ImagenesTIFF[static_cast<size_t>(k) - 1].row(kContactStep * y) +
                                    kContactStep * x * 3;
                const double ek = set.ExpRelativas[static_cast<size_t>(k) - 1];
                Sample& s = gathered[static_cast<size_t>(y) * dw + x];
                if (static_cast<float>(k) == p) {
                    s = {true, a[0], a[1], a[2], ek, 0, 0, 0};
                    continue;
                }
                const double f = p - static_cast<float>(k);
                const uint16_t* b = set.ImagenesTIFF[static_cast<size_t>(k)].row(kContactStep * y) +
                                    kContactStep * x * 3;
                const double ek1 = set.ExpRelativas[static_cast<size_t>(k)];
                s.whole = false;
                s.mr = a[0] * ek * (1 - f) + b[0] * ek1 * f;
                s.mg = a[1] * ek * (1 - f) + b[1] * ek1 * f;
                s.mb = a[2] * ek * (1 - f) + b[2] * ek1 * f;
            }
    });
    return gathered;
}

}  // namespace

DecimatedMap decimateMap(const MapLevels& map, const std::vector<float>& tabla, int n) {
    DecimatedMap d;
    d.width = map.width / kContactStep;
    d.height = map.height / kContactStep;
    const int dw = d.width, dh = d.height;
    d.positions.resize(static_cast<size_t>(dw) * dh);
    d.contribution.assign(static_cast<size_t>(n) + 2, 0.0);
    for (int x = 0; x < dw; ++x)
        for (int y = 0; y < dh; ++y) {
            const float p =
                tabla[map.red[static_cast<size_t>(kContactStep * y) * map.width + kContactStep * x]];
            d.positions[static_cast<size_t>(y) * dw + x] = p;
            const int k = static_cast<int>(p);
            if (k < 1 || k > n || (static_cast<float>(k) != p && k + 1 > n))
                throw RunError(kErrOutOfRange, QStringLiteral("Subscript out of range"));
            if (static_cast<float>(k) == p) {
                d.contribution[static_cast<size_t>(k)] += 1;
            } else {
                const float f = p - static_cast<float>(k);
                d.contribution[static_cast<size_t>(k)] += 1.0f - f;
                d.contribution[static_cast<size_t>(k) + 1] += f;
                ++d.blended;
            }
        }
    return d;
}

QImage drawContactSheet(const FrameSet& set, const DecimatedMap& map,
                        const std::function<void(int tiles)>& tileDrawn) {
    const int dw = map.width, dh = map.height;
    const std::vector<Sample> gathered = gatherSamples(set, map);

    // Black background; gaps and the tiles with red + blue above 100 % stay black.
    QImage hoja = allocatedImage(11 * dw + 10, 11 * dh + 10, QImage::Format_Grayscale8);
    hoja.fill(0);
    const float gamma = static_cast<float>(1 / 2.2);
    int tiles = 0;
    for (int r = 0; r <= 10; ++r)
        for (int b = 0; b <= 10; ++b) {
            const int wr = kPesosMezcla[r], wb = kPesosMezcla[b], wg = 100 - wr - wb;
            if (wg < 0) continue;
            const int left = (dw + 1) * r, top = (dh + 1) * b;
            parallelRows(dh, 16, [&](const RowBand& band) {
                for (int y = band.begin; y < band.end; ++y) {
                    uchar* out = hoja.scanLine(top + y) + left;
                    const Sample* s = gathered.data() + static_cast<size_t>(y) * dw;
                    for (int x = 0; x < dw; ++x, ++s) {
                        const double v = s->whole
                                             ? (wr * s->r + wg * s->g + wb * s->b) / 100.0 * s->factor
                                             : (wr * s->mr + wg * s->mg + wb * s->mb) / 100;
                        out[x] = greyOf(v, gamma);
                    }
                }
            });
            drawPictureText(hoja, QStringLiteral("R=%1%").arg(wr), left + 1, top, 16777215);
            drawPictureText(hoja, QStringLiteral("G=%1%").arg(wg), left + 1, top + 12, 16777215);
            drawPictureText(hoja, QStringLiteral("B=%1%").arg(wb), left + 1, top + 24, 16777215);
            ++tiles;
            if (tileDrawn) tileDrawn(tiles);
        }
    return hoja;
}
