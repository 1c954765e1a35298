// "Calc EV" as one call for the window: load, sort with reloading, measure.
#include "exposure/exposure.h"

int calcularEV(const QString& rutaReferencia, const QStringList& archivosRAW, bool metodoMedia,
               ImageSet& set, Reporter& reporter) {
    if (CargarTIFFs(rutaReferencia, archivosRAW, set, reporter) <= 1) return -1;
    OrdenarPorExposicion(true, set, reporter);
    // A failed sort has been reported and has released the set.
    if (!set.TIFFsCargados) return -1;
    return CalcularExpRelativas(rutaReferencia, metodoMedia, set, reporter) == -1 ? -1 : 1;
}
