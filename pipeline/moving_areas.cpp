// Moving subjects as "Build map" tells them.
#include "pipeline/moving_areas.h"

#include "set/noise_model.h"
#include "support/errors.h"
#include "support/image_memory.h"
#include "support/numbers.h"
#include "support/parallel.h"
#include "support/paths.h"
#include "support/png_writer.h"
#include "support/reduced_picture.h"
#include "support/reporter.h"

#include <QImage>

bool findMovingAreas(const MapSettings& settings, const ImageSet& set, Reporter& reporter,
                     MotionAreas& areas) {
    const int n = static_cast<int>(set.ImagenesTIFF.size());
    if (settings.deghostRef > n) {
        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        reporter.MostrarError(QStringLiteral("The deghosting reference, image ") +
                              QString::number(settings.deghostRef) +
                              QStringLiteral(", is not in this set of ") + QString::number(n) +
                              QStringLiteral(" images"));
        return false;
    }
    reporter.EscribirEstado(QStringLiteral("Detecting moving subjects..."), true);
    MotionSettings motion;
    motion.reference = settings.deghostRef;
    // The progressive blend passes from an area's choice to the normal one
    // over twice its radius, all of it inside the area.
    motion.widen = 2 * std::max(0, settings.progressive);
    areas = detectMotion(set, measureWeightedModel(set), motion, [&reporter](int percent) {
        reporter.showProgress(QString::number(percent) + QStringLiteral("%"));
        reporter.processEvents();
    });
    reporter.showProgress(QStringLiteral("100%"));
    if (areas.mostDiffers)
        reporter.MostrarAviso(
            QStringLiteral("most of the picture differs between images: deghosting takes "
                           "everything from ") +
            NombreArchivo(set.ArchivosTIFF[areas.references[0] - 1]));
    return true;
}

QString movingAreasLine(const MotionAreas& areas, const ImageSet& set) {
    if (areas.none()) return QStringLiteral("Moving areas: none");
    QStringList names;
    for (int r : areas.references) names << NombreArchivo(set.ArchivosTIFF[r - 1]);
    return QStringLiteral("Moving areas: ") + QString::number(areas.references.size()) +
           QStringLiteral(", ") + shortestDecimal(roundHalfEven(areas.share() * 1000) / 10) +
           QStringLiteral("% of the picture (references ") + names.join(QStringLiteral(", ")) +
           QStringLiteral(")");
}

QString saveMovingAreas(const QString& rutaReferencia, const MotionAreas& areas,
                        const ByteMap& grey, const ImageSet& set, Reporter& reporter) {
    QImage picture = allocatedImage(grey.width, grey.height, QImage::Format_RGB888);
    parallelRows(grey.height, 32, [&](const RowBand& band) {
        for (int y = band.begin; y < band.end; ++y) {
            const uint8_t* g = grey.data.data() + static_cast<size_t>(y) * grey.width;
            uchar* out = picture.scanLine(y);
            for (int x = 0; x < grey.width; ++x, out += 3) {
                // Red over the map's grey: the map still shows through.
                const bool moving = areas.areaAt(x, y) != 0;
                out[0] = moving ? static_cast<uchar>(128 + g[x] / 2) : g[x];
                out[1] = out[2] = moving ? static_cast<uchar>(g[x] / 2) : g[x];
            }
        }
    });
    const QString name =
        outputFileName(set.place, QStringLiteral("Moving"), QStringLiteral(".png"));
    reporter.EscribirEstado(
        QStringLiteral("Saving moving areas as ") + name + QStringLiteral("..."), true);
    const QString path = outputFolder(set.place, rutaReferencia) + name;
    writePng(picture, path, kPngQualityFast);
    reporter.fileWritten(path);
    if (reporter.showsResults())
        reporter.showResult(ResultKind::Moving, path, reducedPicture(picture));
    return path;
}
