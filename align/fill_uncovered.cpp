// Values for the samples a moved frame did not see, once the exposures are
// known: the previous image's value brought to this image's exposure.
#include "align/align.h"

#include "support/errors.h"
#include "support/parallel.h"

#include <cmath>

void fillUncovered(FrameSet& set) {
    const size_t n = set.ImagenesTIFF.size();
    if (set.Cobertura.size() != n || set.ExpRelativas.size() != n || !set.usable())
        throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not aligned"));
    const int width = set.AnchoImagen;
    for (size_t k = 1; k < n; ++k) {
        const CoveredRows& rows = set.Cobertura[k];
        if (rows.all()) continue;
        // e(k - 1) / e(k): how many times brighter image k is than image k - 1.
        const double ratio = set.ExpRelativas[k - 1] / set.ExpRelativas[k];
        if (!std::isfinite(ratio) || ratio <= 0)
            throw RunError(kErrInvalidArgument, QStringLiteral("Exposure ratio not measured"));
        const GflBitmap& from = set.ImagenesTIFF[k - 1];
        GflBitmap& to = set.ImagenesTIFF[k];
        parallelRows(set.AltoImagen, 64, [&](const RowBand& band) {
            for (int y = band.begin; y < band.end; ++y) {
                const uint16_t* src = from.row(y);
                uint16_t* dst = to.row(y);
                auto fill = [&](int x0, int x1) {
                    for (size_t i = static_cast<size_t>(x0) * 3; i < static_cast<size_t>(x1) * 3; ++i)
                        dst[i] = static_cast<uint16_t>(std::min(65535.0, std::nearbyint(src[i] * ratio)));
                };
                fill(0, rows.begin[static_cast<size_t>(y)]);
                fill(rows.end[static_cast<size_t>(y)], width);
            }
        });
    }
}
