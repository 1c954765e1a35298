// Loading the developed TIFF set and sorting it by exposure, as the log tells
// them: files are decoded in parallel, then taken over and reported in set
// order, so the log and the set are those of a file-by-file load.
#include "pipeline/calc_ev.h"

#include "exposure/exposure_measures.h"
#include "support/errors.h"
#include "support/numbers.h"
#include "support/paths.h"
#include "support/reporter.h"

#include <vector>

namespace {

void insufficient(Reporter& reporter) {
    reporter.EscribirEstado(QStringLiteral("\r\nInsufficient TIFF files"), true);
    reporter.EscribirEstado(QStringLiteral("DONE"), true);
    reporter.beep();
}

}  // namespace

int CargarTIFFs(const QString& rutaReferencia, const QStringList& archivosRAW, ImageSet& set,
                Reporter& reporter) {
    bool started = false;
    try {
        const QString folder = CarpetaArchivo(rutaReferencia);
        const qsizetype r = archivosRAW.size();
        if (r < 2) {
            // The log is not restarted and a loaded set stays as it is.
            std::vector<TIFFPrecargado>().swap(set.TIFFsPrecargados);
            insufficient(reporter);
            return 0;
        }
        reporter.EscribirEstado(
            QStringLiteral("Loading ") + QString::number(r) + QStringLiteral(" TIFF files..."),
            false);
        started = true;
        if (set.TIFFsCargados) set.release();
        set.forget();
        set.lastBlend = {};
        set.forgetMotion();
        set.Cobertura.clear();

        std::vector<FrameCandidate> candidates =
            listFrameCandidates(folder, archivosRAW, set.place.folder);
        decodeFrameCandidates(candidates, set.TIFFsPrecargados,
                              [&reporter](int percent) { reporter.stageProgress(percent); });

        int count = 0;
        bool mismatch = false;
        for (FrameCandidate& c : candidates) {
            if (c.badName) std::rethrow_exception(c.badName);
            if (!c.exists) {
                reporter.EscribirEstado(QStringLiteral("file ") + NombreArchivo(c.path) +
                                            QStringLiteral(" not found. Skipped"),
                                        true);
                continue;
            }
            ++count;
            set.ArchivosTIFF.resize(count);
            set.ImagenesTIFF.resize(static_cast<size_t>(count));
            set.ArchivosTIFF[count - 1] = c.path;
            set.SellosTIFF.resize(static_cast<size_t>(count));
            set.SellosTIFF[static_cast<size_t>(count) - 1] = c.stamp;
            GflBitmap& image = set.ImagenesTIFF[static_cast<size_t>(count) - 1];
            // A file that cannot be decoded leaves an empty (0 x 0) entry,
            // reported here in its place in the log.
            if (c.io.failed)
                LiberarGflBitmap(image);
            else
                image = std::move(c.image);
            reportBitmapIo(c.io, reporter);
            if (count == 1) {
                set.AnchoImagen = image.width;
                set.AltoImagen = image.height;
            } else if (image.width != set.AnchoImagen || image.height != set.AltoImagen ||
                       image.empty()) {
                // An empty image is a mismatch even beside another empty one:
                // a set of undecodable files must never pass as loaded.
                mismatch = true;
                break;
            }
        }

        if (mismatch) {
            reporter.EscribirEstado(QStringLiteral("Image dimensions mismatch"), true);
            reporter.EscribirEstado(QStringLiteral("DONE"), true);
            set.release();
            reporter.MostrarError(QStringLiteral("Image dimensions mismatch between ") +
                                  NombreArchivo(set.ArchivosTIFF[0]) + QStringLiteral(" and ") +
                                  NombreArchivo(set.ArchivosTIFF[count - 1]));
            return -1;
        }
        if (count < 2) {
            insufficient(reporter);
            set.release();
            reporter.processEvents();
            return count;
        }
        set.TIFFsCargados = true;
        reporter.processEvents();
        return count;
    } catch (...) {
        reporter.InformarError(QStringLiteral("CargarTIFFs"));
        // Whatever was loaded is not a checked set.
        if (started) set.release();
        return -1;
    }
}

void OrdenarPorExposicion(bool recargar, ImageSet& set, Reporter& reporter) {
    try {
        reporter.EscribirEstado(QStringLiteral("\r\nCalculating absolute exposure..."), true);
        if (!set.usable())
            throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
        const int n = static_cast<int>(set.ImagenesTIFF.size());
        std::vector<uint64_t> sums(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            sums[static_cast<size_t>(i)] = channelSum(set.ImagenesTIFF[static_cast<size_t>(i)]);
            reporter.EscribirEstado(
                NombreArchivo(set.ArchivosTIFF[i]) + QStringLiteral(": ") +
                    shortestDecimal(meanLevelPercent(sums[static_cast<size_t>(i)], set.AnchoImagen,
                                                     set.AltoImagen)) +
                    QStringLiteral("%"),
                true);
        }

        reporter.EscribirEstado(QStringLiteral("Sorting images by exposure..."), true);
        const std::vector<int16_t> order = rankByExposure(sums);
        set.OrdenExposicion = order;
        set.TIFFMenosExpuesto = set.ArchivosTIFF[order[0] - 1];

        if (recargar) {
            reporter.EscribirEstado(QStringLiteral("Reloading sorted images..."), true);
            reorderFrames(set, order);
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
