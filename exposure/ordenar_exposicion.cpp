// Sorting the loaded set by exposure: mean channel level of every image,
// ranked from the darkest to the brightest.
#include "exposure/exposure.h"

#include "exposure/exposure_scan.h"
#include "support/errors.h"
#include "support/numbers.h"
#include "support/paths.h"
#include "support/reporter.h"

#include <vector>

void OrdenarPorExposicion(bool recargar, ImageSet& set, Reporter& reporter) {
    try {
        reporter.EscribirEstado(QStringLiteral("\r\nCalculating absolute exposure..."), true);
        if (!set.usable())
            throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
        const int n = static_cast<int>(set.ImagenesTIFF.size());
        const double width = set.AnchoImagen, height = set.AltoImagen;

        // Exact integer sums; -1 marks an image already ranked.
        std::vector<int64_t> sums(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            const uint64_t sum = channelSum(set.ImagenesTIFF[static_cast<size_t>(i)]);
            sums[static_cast<size_t>(i)] = static_cast<int64_t>(sum);
            const double level =
                roundHalfEven(static_cast<double>(sum) / 3 / 65535 / width / height * 1000) / 10;
            reporter.EscribirEstado(NombreArchivo(set.ArchivosTIFF[i]) + QStringLiteral(": ") +
                                        shortestDecimal(level) + QStringLiteral("%"),
                                    true);
        }

        reporter.EscribirEstado(QStringLiteral("Sorting images by exposure..."), true);
        // From the brightest down; of equal sums the one loaded first ranks as
        // the brighter (the strict > keeps the lowest position).
        std::vector<int16_t> order(static_cast<size_t>(n));
        for (int pos = n; pos >= 1; --pos) {
            int best = -1;
            for (int i = 0; i < n; ++i)
                if (sums[static_cast<size_t>(i)] >= 0 &&
                    (best < 0 || sums[static_cast<size_t>(i)] > sums[static_cast<size_t>(best)]))
                    best = i;
            order[static_cast<size_t>(pos) - 1] = static_cast<int16_t>(best + 1);
            sums[static_cast<size_t>(best)] = -1;
        }
        set.OrdenExposicion = order;
        set.TIFFMenosExpuesto = set.ArchivosTIFF[order[0] - 1];

        if (recargar) {
            reporter.EscribirEstado(QStringLiteral("Reloading sorted images..."), true);
            // The decoded records are moved into ranked order: the same images
            // a second decoding from disk would give, without the time or the
            // chance of a file failing half-way.
            const QStringList paths = set.ArchivosTIFF;
            std::vector<FileStamp> stamps = set.SellosTIFF;
            stamps.resize(static_cast<size_t>(n));
            set.SellosTIFF.assign(static_cast<size_t>(n), FileStamp());
            std::vector<GflBitmap> images = std::move(set.ImagenesTIFF);
            set.ImagenesTIFF.clear();
            set.ImagenesTIFF.resize(static_cast<size_t>(n));
            for (int k = 0; k < n; ++k) {
                const int from = order[static_cast<size_t>(k)] - 1;
                set.ArchivosTIFF[k] = paths[from];
                set.SellosTIFF[static_cast<size_t>(k)] = stamps[static_cast<size_t>(from)];
                set.ImagenesTIFF[static_cast<size_t>(k)] =
                    std::move(images[static_cast<size_t>(from)]);
            }
        } else {
            set.release();
        }
        reporter.processEvents();
    } catch (...) {
        reporter.InformarError(QStringLiteral("OrdenarPorExposicion"));
        // A set of unknown order must not reach the later stages.
        set.release();
    }
}
