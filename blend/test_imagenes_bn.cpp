// "T": the B&W contact sheet. Every 7th pixel of the blended scene under 66
// red/green/blue mixes, each tile labelled with its weights, in one GIF.
#include "blend/blend_internal.h"

#include "support/errors.h"
#include "support/gif_writer.h"
#include "support/image_memory.h"
#include "support/numbers.h"
#include "support/objeto_imagen.h"
#include "support/parallel.h"
#include "support/paths.h"
#include "support/reduced_picture.h"
#include "support/reporter.h"

#include <cmath>

namespace {

constexpr int kStep = 7;
constexpr int kPesosMezcla[11] = {0, 2, 8, 18, 32, 50, 68, 82, 92, 98, 100};
constexpr int kTiles = 66;

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

}  // namespace

int TestImagenesBN(const QString& rutaReferencia, const QString& rutaMapa, ImageSet& set,
                   Reporter& reporter) {
    try {
        const int n = static_cast<int>(set.ImagenesTIFF.size());
        reporter.EscribirEstado(QStringLiteral("Loading blending map..."), false);
        MapLevels map;
        if (!openMap(set, rutaMapa, false, map, reporter)) return -1;

        const int dw = set.AnchoImagen / kStep, dh = set.AltoImagen / kStep;
        reporter.EscribirEstado(QStringLiteral("Decimating blending map to ") +
                                    QString::number(dw) + QStringLiteral("x") +
                                    QString::number(dh) + QStringLiteral("..."),
                                true);
        const std::vector<float>& tabla = set.TablaMapa;
        std::vector<float> reducido(static_cast<size_t>(dw) * dh);
        std::vector<double> contribucion(static_cast<size_t>(n) + 2, 0.0);
        long long blended = 0;
        for (int x = 0; x < dw; ++x)
            for (int y = 0; y < dh; ++y) {
                const float p =
                    tabla[map.red[static_cast<size_t>(kStep * y) * set.AnchoImagen + kStep * x]];
                reducido[static_cast<size_t>(y) * dw + x] = p;
                const int k = static_cast<int>(p);
                if (k < 1 || k > n || (static_cast<float>(k) != p && k + 1 > n))
                    throw RunError(kErrOutOfRange, QStringLiteral("Subscript out of range"));
                if (static_cast<float>(k) == p) {
                    contribucion[static_cast<size_t>(k)] += 1;
                } else {
                    const float f = p - static_cast<float>(k);
                    contribucion[static_cast<size_t>(k)] += 1.0f - f;
                    contribucion[static_cast<size_t>(k) + 1] += f;
                    ++blended;
                }
            }
        map = MapLevels();

        const double samples = static_cast<double>(dw) * dh;
        if (samples == 0) throw RunError(kErrDivisionByZero, QStringLiteral("Division by zero"));
        reporter.EscribirEstado(QStringLiteral("Decimated image contribution..."), true);
        logShares(set, contribucion, samples, static_cast<double>(blended), reporter);
        reporter.EscribirEstado(QStringLiteral("\r\nGenerating B&W contact sheet..."), true);

        reloadLeastExposed(set, reporter);
        // The source samples, read once for all 66 tiles.
        std::vector<Sample> gathered(reducido.size());
        parallelRows(dh, 16, [&](const RowBand& band) {
            for (int y = band.begin; y < band.end; ++y)
                for (int x = 0; x < dw; ++x) {
                    const float p = reducido[static_cast<size_t>(y) * dw + x];
                    const int k = static_cast<int>(p);
                    const uint16_t* a =
                        set.ImagenesTIFF[static_cast<size_t>(k) - 1].row(kStep * y) + kStep * x * 3;
                    const double ek = set.ExpRelativas[static_cast<size_t>(k) - 1];
                    Sample& s = gathered[static_cast<size_t>(y) * dw + x];
                    if (static_cast<float>(k) == p) {
                        s = {true, a[0], a[1], a[2], ek, 0, 0, 0};
                        continue;
                    }
                    const double f = p - static_cast<float>(k);
                    const uint16_t* b =
                        set.ImagenesTIFF[static_cast<size_t>(k)].row(kStep * y) + kStep * x * 3;
                    const double ek1 = set.ExpRelativas[static_cast<size_t>(k)];
                    s.whole = false;
                    s.mr = a[0] * ek * (1 - f) + b[0] * ek1 * f;
                    s.mg = a[1] * ek * (1 - f) + b[1] * ek1 * f;
                    s.mb = a[2] * ek * (1 - f) + b[2] * ek1 * f;
                }
        });

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
                            const double v =
                                s->whole ? (wr * s->r + wg * s->g + wb * s->b) / 100.0 * s->factor
                                         : (wr * s->mr + wg * s->mg + wb * s->mb) / 100;
                            out[x] = greyOf(v, gamma);
                        }
                    }
                });
                drawPictureText(hoja, QStringLiteral("R=%1%").arg(wr), left + 1, top, 16777215);
                drawPictureText(hoja, QStringLiteral("G=%1%").arg(wg), left + 1, top + 12,
                                16777215);
                drawPictureText(hoja, QStringLiteral("B=%1%").arg(wb), left + 1, top + 24,
                                16777215);
                ++tiles;
                reporter.showProgress(QString::number(tiles * 100 / kTiles) + QStringLiteral("%"));
                reporter.processEvents();
            }

        const QString name =
            outputFileName(set.place, QStringLiteral("BWTest"), QStringLiteral(".gif"));
        reporter.EscribirEstado(
            QStringLiteral("\r\nSaving B&W samples as ") + name + QStringLiteral("..."), true);
        const QString path = outputFolder(set.place, rutaReferencia) + name;
        writeGif(hoja, path);
        reporter.fileWritten(path);
        if (reporter.showsResults())
            reporter.showResult(ResultKind::Sheet, path, reducedPicture(hoja));
        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        reporter.beep();
        return 1;
    } catch (...) {
        reporter.InformarError(QStringLiteral("TestImagenesBN"));
        reporter.processEvents();
        return -1;
    }
}
