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

namespace {

// The preview's copy: the map reduced as any picture is, red where a block
// holds any moving pixel.
QImage reducedMoving(const ByteMap& grey, const MotionAreas& areas) {
    const QImage map(grey.data.data(), grey.width, grey.height, grey.width,
                     QImage::Format_Grayscale8);
    const QImage small = reducedPicture(map);
    QImage out = convertedImage(small, QImage::Format_RGB32);
    const int f = reductionFactor(grey.width, grey.height);
    for (int ry = 0; ry < out.height(); ++ry) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(ry));
        for (int rx = 0; rx < out.width(); ++rx) {
            bool moving = false;
            for (int y = ry * f; y < std::min(grey.height, (ry + 1) * f) && !moving; ++y)
                for (int x = rx * f; x < std::min(grey.width, (rx + 1) * f) && !moving; ++x)
                    moving = areas.areaAt(x, y) != 0;
            const int g = qRed(line[rx]);
            if (moving) line[rx] = qRgb(128 + g / 2, g / 2, g / 2);
        }
    }
    return out;
}

}  // namespace

QString saveMovingAreas(const QString& rutaReferencia, const MotionAreas& areas,
                        const ByteMap& grey, const ImageSet& set, Reporter& reporter) {
    // 128 greys of the map, and the same under red (the map still shows
    // through): one byte a pixel, a third of RGB's to compress.
    QImage picture = allocatedImage(grey.width, grey.height, QImage::Format_Indexed8);
    QList<QRgb> palette(256);
    for (int i = 0; i < 128; ++i) {
        const int g = 2 * i + i / 64;  // 0..255 in 128 steps
        palette[i] = qRgb(g, g, g);
        palette[128 + i] = qRgb(128 + g / 2, g / 2, g / 2);
    }
    picture.setColorTable(palette);
    parallelRows(grey.height, 32, [&](const RowBand& band) {
        for (int y = band.begin; y < band.end; ++y) {
            const uint8_t* g = grey.data.data() + static_cast<size_t>(y) * grey.width;
            uchar* out = picture.scanLine(y);
            for (int x = 0; x < grey.width; ++x)
                out[x] = static_cast<uchar>(g[x] / 2 + (areas.areaAt(x, y) != 0 ? 128 : 0));
        }
    });
    const QString name =
        outputFileName(set.place, QStringLiteral("Moving"), QStringLiteral(".png"));
    reporter.EscribirEstado(
        QStringLiteral("Saving moving areas as ") + name + QStringLiteral("..."), true);
    const QString path = outputFolder(set.place, rutaReferencia) + name;
    writePalettePng(picture, path, kPngQualityFast);
    reporter.fileWritten(path);
    if (reporter.showsResults())
        reporter.showResult(ResultKind::Moving, path, reducedMoving(grey, areas));
    return path;
}
