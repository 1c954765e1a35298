// The relative exposures as the log tells them, with the histogram picture of
// the Median method, and "Calc EV" as one call.
#include "pipeline/calc_ev.h"

#include "align/align.h"
#include "exposure/exposure_measures.h"
#include "exposure/histogram_band.h"
#include "set/noise_model.h"
#include "support/errors.h"
#include "support/numbers.h"
#include "support/objeto_imagen.h"
#include "support/paths.h"
#include "support/reduced_picture.h"
#include "support/reporter.h"

#include <cmath>
#include <optional>

namespace {

// The image's line in the log. Image 1 has no "+" and no level; a factor of
// exactly 1 gives "0", never "-0".
QString imageLine(const QString& path, double factor, bool metodoMedia, int k, double level) {
    const double times = roundHalfEven(1 / factor * 100) / 100;
    double ev = -std::log(factor) / std::log(2.0) * 100;
    if (!metodoMedia) ev = ev * 1.00000000001;
    ev = roundHalfEven(ev) / 100;
    QString line =
        NombreArchivo(path) + QStringLiteral(": ") + shortestDecimal(times) + QStringLiteral(" (");
    if (k == 1) return line + shortestDecimal(ev) + QStringLiteral("EV)");
    return line + QStringLiteral("+") + shortestDecimal(ev) + QStringLiteral("EV) (") +
           shortestDecimal(level) + QStringLiteral("% lev)");
}

int gapFailure(ExposureGap gap, const ImageSet& set, int k, Reporter& reporter) {
    const QString kind = gap == ExposureGap::TooWide ? QStringLiteral("Too wide exposure gap")
                                                     : QStringLiteral("Too narrow exposure gap");
    reporter.EscribirEstado(kind, true);
    reporter.EscribirEstado(QStringLiteral("DONE"), true);
    reporter.MostrarError(kind + QStringLiteral(" between ") +
                          NombreArchivo(set.ArchivosTIFF[k - 2]) + QStringLiteral(" and ") +
                          NombreArchivo(set.ArchivosTIFF[k - 1]));
    return -1;
}

}  // namespace

int CalcularExpRelativas(const QString& rutaReferencia, bool metodoMedia, ImageSet& set,
                         Reporter& reporter, bool headroom) {
    try {
        reporter.EscribirEstado(QStringLiteral("\r\nCalculating relative exposure..."), true);
        if (!set.usable())
            throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
        const int n = static_cast<int>(set.ImagenesTIFF.size());
        const double width = set.AnchoImagen, height = set.AltoImagen;
        // Frames developed with headroom clip each channel where they show it.
        const ChannelLimits limits = headroom ? levelsOfClips(setClipLevels(set)) : ChannelLimits{};

        // Pairs not measured keep 0, so a failed run shows where it stopped.
        std::vector<double>& e = set.ExpRelativas;
        e.assign(static_cast<size_t>(n), 0.0);
        e[0] = 1.0;
        reporter.EscribirEstado(imageLine(set.ArchivosTIFF[0], 1.0, metodoMedia, 1, 0), true);

        std::optional<ObjetoImagen> picture;
        if (!metodoMedia) {
            picture.emplace();
            picture->Crear(kHistogramWidth, kBandHeight * (n - 1), packColor(255, 255, 255));
        }

        for (int k = 2; k <= n; ++k) {
            // Measured per pair: the window runs at every status line, and the
            // scans refuse a pair that is no longer two images of the set's size.
            const PairExposure pair =
                measurePairExposure(set, k, metodoMedia, e[static_cast<size_t>(k) - 2], limits);
            if (pair.gap != ExposureGap::Measured) return gapFailure(pair.gap, set, k, reporter);
            e[static_cast<size_t>(k) - 1] = pair.factor;
            reporter.EscribirEstado(imageLine(set.ArchivosTIFF[k - 1], pair.factor, metodoMedia, k,
                                              usedLevelPercent(pair.count, width, height)),
                                    true);
            if (picture) drawHistogramBand(*picture, pair.median.bins, k, pair.medianBin);
            reporter.stageProgress((k - 1) * 100 / (n - 1));
        }

        if (picture) {
            const QString name =
                outputFileName(set.place, QStringLiteral("His"), QStringLiteral(".gif"));
            reporter.EscribirEstado(
                QStringLiteral("\r\nSaving exposure histogram as ") + name + QStringLiteral("..."),
                true);
            picture->FormatoGuardado(kFormatoGif);
            const QString path = outputFolder(set.place, rutaReferencia) + name;
            picture->Guardar(path);
            if (reporter.showsResults())
                reporter.showResult(ResultKind::Histogram, path,
                                    reducedPicture(picture->ImagenVisible()));
            picture.reset();
            reporter.fileWritten(path);
        }
        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        reporter.beep();
        reporter.processEvents();
        return 1;
    } catch (...) {
        reporter.InformarError(QStringLiteral("CalcularExpRelativas"));
        return -1;
    }
}

int calcularEV(const QString& rutaReferencia, const QStringList& archivosRAW, bool metodoMedia,
               ImageSet& set, Reporter& reporter) {
    return calcularEV(rutaReferencia, archivosRAW, metodoMedia, AlignSettings(), set, reporter);
}

int calcularEV(const QString& rutaReferencia, const QStringList& archivosRAW, bool metodoMedia,
               const AlignSettings& align, ImageSet& set, Reporter& reporter, bool headroom) {
    if (CargarTIFFs(rutaReferencia, archivosRAW, set, reporter) <= 1) return -1;
    OrdenarPorExposicion(true, set, reporter);
    // A failed sort has been reported and has released the set.
    if (!set.TIFFsCargados) return -1;
    if (!alignImages(align, set, reporter)) return -1;
    if (CalcularExpRelativas(rutaReferencia, metodoMedia, set, reporter, headroom) == -1)
        return -1;
    if (set.Cobertura.empty()) return 1;
    try {
        fillUncovered(set);
    } catch (...) {
        reporter.InformarError(QStringLiteral("calcularEV"));
        set.release();
        return -1;
    }
    return 1;
}
