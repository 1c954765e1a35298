// "Calc EV" as one call for the window: load, sort with reloading, align when
// asked, measure.
#include "exposure/exposure.h"

#include "align/align.h"
#include "support/reporter.h"

int calcularEV(const QString& rutaReferencia, const QStringList& archivosRAW, bool metodoMedia,
               ImageSet& set, Reporter& reporter) {
    return calcularEV(rutaReferencia, archivosRAW, metodoMedia, AlignSettings(), set, reporter);
}

int calcularEV(const QString& rutaReferencia, const QStringList& archivosRAW, bool metodoMedia,
               const AlignSettings& align, ImageSet& set, Reporter& reporter) {
    if (CargarTIFFs(rutaReferencia, archivosRAW, set, reporter) <= 1) return -1;
    OrdenarPorExposicion(true, set, reporter);
    // A failed sort has been reported and has released the set.
    if (!set.TIFFsCargados) return -1;
    if (!alignImages(align, set, reporter)) return -1;
    if (CalcularExpRelativas(rutaReferencia, metodoMedia, set, reporter) == -1) return -1;
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
