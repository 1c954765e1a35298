// The folder and the names of a set's files.
#include "support/output_place.h"

#include "support/numbers.h"
#include "support/paths.h"

QString outputFolder(const OutputPlace& place, const QString& rutaReferencia) {
    return place.folder.isEmpty() ? CarpetaArchivo(rutaReferencia) : place.folder;
}

QString outputFileName(const OutputPlace& place, const QString& kind, const QString& rest) {
    if (place.stem.isEmpty()) return kind + QLatin1Char('_') + timeStampHHMMSS() + rest;
    return place.stem + QLatin1Char('_') + kind + rest;
}
