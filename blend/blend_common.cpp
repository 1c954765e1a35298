// What the blend and the contact sheet share: opening the map against the
// set, and image 1 made current from disk.
#include "blend/blend_internal.h"

#include "support/errors.h"
#include "support/numbers.h"
#include "support/paths.h"
#include "support/reporter.h"

bool openMap(const ImageSet& set, const QString& rutaMapa, bool keepColours, MapLevels& map,
             Reporter& reporter) {
    if (!set.tablaMapaValida()) {
        // Decoding against another set would name images it does not have.
        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        reporter.MostrarError(QStringLiteral("The blending map was built for another image set"));
        return false;
    }
    if (!set.usable())
        throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
    map = loadMapLevels(rutaMapa, QSize(set.AnchoImagen, set.AltoImagen), keepColours);
    if (map.width != set.AnchoImagen || map.height != set.AltoImagen) {
        reporter.EscribirEstado(QStringLiteral("Map dimensions mismatch"), true);
        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        reporter.MostrarError(QStringLiteral("Map dimensions do not match image dimensions"));
        return false;
    }
    return true;
}

void reloadLeastExposed(ImageSet& set, Reporter& reporter) {
    const QString& path = set.TIFFMenosExpuesto;
    const FileStamp now = fileStamp(path);
    if (now.valid && !set.SellosTIFF.empty() && path == set.ArchivosTIFF[0] &&
        now == set.SellosTIFF[0])
        return;
    GflBitmap fresh;
    if (CargarGflBitmap(path, fresh, reporter)) return;
    if (fresh.width != set.AnchoImagen || fresh.height != set.AltoImagen) return;
    set.ImagenesTIFF[0] = std::move(fresh);
    if (!set.SellosTIFF.empty() && path == set.ArchivosTIFF[0]) set.SellosTIFF[0] = now;
}


void logShares(const ImageSet& set, const std::vector<double>& contribution, double total,
               double blended, Reporter& reporter) {
    auto perMille = [](double part, double whole) {
        return shortestDecimal(roundHalfEven(part / whole * 1000) / 10);
    };
    for (qsizetype i = 1; i <= set.ArchivosTIFF.size(); ++i)
        reporter.EscribirEstado(NombreArchivo(set.ArchivosTIFF[i - 1]) + QStringLiteral(": ") +
                                    perMille(contribution[static_cast<size_t>(i)], total) +
                                    QStringLiteral("%"),
                                true);
    reporter.EscribirEstado(shortestDecimal(roundHalfEven((1 - blended / total) * 1000) / 10) +
                                QStringLiteral("% genuine pixels"),
                            true);
}
