// Relative exposures of the sorted set: each neighbouring pair measured on its
// well-exposed, unclipped samples, by the ratio of sums (Average) or the
// median of log ratios (Median, with a histogram picture).
#include "exposure/exposure.h"

#include "exposure/exposure_scan.h"
#include "exposure/histogram_band.h"
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

int gapFailure(const QString& kind, const ImageSet& set, int k, Reporter& reporter) {
    reporter.EscribirEstado(kind, true);
    reporter.EscribirEstado(QStringLiteral("DONE"), true);
    reporter.MostrarError(kind + QStringLiteral(" between ") +
                          NombreArchivo(set.ArchivosTIFF[k - 2]) + QStringLiteral(" and ") +
                          NombreArchivo(set.ArchivosTIFF[k - 1]));
    return -1;
}

}  // namespace

int CalcularExpRelativas(const QString& rutaReferencia, bool metodoMedia, ImageSet& set,
                         Reporter& reporter) {
    try {
        reporter.EscribirEstado(QStringLiteral("\r\nCalculating relative exposure..."), true);
        if (!set.usable())
            throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
        const int n = static_cast<int>(set.ImagenesTIFF.size());
        const double width = set.AnchoImagen, height = set.AltoImagen;

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
            // Taken per pair: the window runs at every status line, and the scans
            // refuse a pair that is no longer two images of the set's size.
            const GflBitmap& dark = set.ImagenesTIFF[static_cast<size_t>(k) - 2];
            const GflBitmap& bright = set.ImagenesTIFF[static_cast<size_t>(k) - 1];
            const double previous = e[static_cast<size_t>(k) - 2];
            // An aligned set: samples a frame did not cover are no samples.
            const bool aligned = set.Cobertura.size() == set.ImagenesTIFF.size();
            const CoveredRows* darkCover =
                aligned ? &set.Cobertura[static_cast<size_t>(k) - 2] : nullptr;
            const CoveredRows* brightCover =
                aligned ? &set.Cobertura[static_cast<size_t>(k) - 1] : nullptr;
            uint64_t count = 0;
            double factor = 0;
            PairMedian median;
            int medianBin = 0;
            if (metodoMedia) {
                const PairAverage sums = scanPairAverage(dark, bright, darkCover, brightCover);
                count = sums.count;
                if (sums.sumBright == 0)
                    return gapFailure(QStringLiteral("Too wide exposure gap"), set, k, reporter);
                if (sums.sumDark > sums.sumBright)
                    return gapFailure(QStringLiteral("Too narrow exposure gap"), set, k, reporter);
                factor = static_cast<double>(sums.sumDark) / static_cast<double>(sums.sumBright) *
                         previous;
            } else {
                median = scanPairMedian(dark, bright, darkCover, brightCover);
                count = median.count;
                medianBin = histogramMedian(median.bins);
                if (medianBin < 0)
                    return gapFailure(QStringLiteral("Too wide exposure gap"), set, k, reporter);
                factor = previous / std::pow(2.0, medianBin / 1000.0);
            }
            e[static_cast<size_t>(k) - 1] = factor;
            const double level =
                roundHalfEven(static_cast<double>(count) / width / height / 3 * 1000) / 10;
            reporter.EscribirEstado(
                imageLine(set.ArchivosTIFF[k - 1], factor, metodoMedia, k, level), true);
            if (picture) drawHistogramBand(*picture, median.bins, k, medianBin);
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
