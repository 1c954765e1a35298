// "Build map" from start to end: thresholds, index map, border stages,
// decoding table and the map PNG beside the reference file.
#include "pipeline/map_stage.h"

#include "set/noise_model.h"
#include "maps/deghost_map.h"
#include "pipeline/moving_areas.h"
#include "support/errors.h"
#include "support/numbers.h"
#include "support/paths.h"
#include "support/png_writer.h"
#include "support/reduced_picture.h"
#include "support/reporter.h"

#include <QImage>

namespace {

StageProgress progressTo(Reporter& reporter) {
    return [&reporter](int percent) {
        reporter.showProgress(QString::number(percent) + QStringLiteral("%"));
        reporter.processEvents();
    };
}

}  // namespace

QString GenerarMapa(const QString& rutaReferencia, const MapSettings& settings, ImageSet& set,
                    Reporter& reporter) {
    try {
        reporter.EscribirEstado(QStringLiteral("Threshold optimisation..."), false);
        // With headroom each channel clips where the frames show it does.
        const std::array<int32_t, 3> umbral =
            settings.headroom ? thresholdsOfClipLevels(settings.umbral, setClipLevels(set))
                              : OptimizarUmbral(settings);
        reporter.EscribirEstado(QStringLiteral("R: ") + QString::number(umbral[0]) +
                                    QStringLiteral("\r\nG: ") + QString::number(umbral[1]) +
                                    QStringLiteral("\r\nB: ") + QString::number(umbral[2]),
                                true);
        reporter.EscribirEstado(QStringLiteral("\r\nBuilding pixel map..."), true);
        // The window runs between status lines: the set is checked where it is read.
        ByteMap indices = buildIndexMap(set, umbral);
        const int n = static_cast<int>(set.ImagenesTIFF.size());
        // The areas belong to the map built now, or to none.
        set.forgetMotion();
        MotionAreas moving;
        if (settings.deghost && !findMovingAreas(settings, set, reporter, moving)) return QString();

        // The progressive radius always widens the anti-ghosting radius.
        const int radius = settings.antiGhost + settings.progressive;
        ByteMap ghosted;
        if (radius >= 1) {
            reporter.EscribirEstado(QStringLiteral("Building anti ghosting map (") +
                                        QString::number(settings.antiGhost) + QStringLiteral("+") +
                                        QString::number(settings.progressive) +
                                        QStringLiteral("px) ..."),
                                    true);
            ghosted = antiGhostMap(indices, radius, progressTo(reporter));
            reporter.showProgress(QStringLiteral("100%"));
            // The moving areas' own choice starts from the index map.
            if (moving.none()) indices = ByteMap();
        }
        const ByteMap& antiGhosted = radius >= 1 ? ghosted : indices;
        if (settings.progressive >= 1)
            reporter.EscribirEstado(QStringLiteral("Building progressive map (") +
                                        QString::number(settings.progressive) +
                                        QStringLiteral("px) ..."),
                                    true);
        ByteMap grey =
            progressiveGreyMap(antiGhosted, settings.progressive, n,
                               settings.progressive >= 1 ? progressTo(reporter) : StageProgress());
        if (settings.progressive >= 1) reporter.showProgress(QStringLiteral("100%"));
        if (!moving.none())
            grey = deghostedGreyMap(set, umbral, indices, antiGhosted, std::move(grey), moving,
                                    settings);
        ghosted = ByteMap();
        indices = ByteMap();

        // The table belongs to the set the map was built from.
        set.buildFor(n);

        reporter.EscribirEstado(QStringLiteral("Generating PNG map..."), true);
        const QString name =
            outputFileName(set.place, QStringLiteral("Map"), QStringLiteral(".png"));
        reporter.EscribirEstado(
            QStringLiteral("\r\nSaving PNG map as ") + name + QStringLiteral("..."), true);
        const QString path = outputFolder(set.place, rutaReferencia) + name;
        const QImage picture(grey.data.data(), grey.width, grey.height, grey.width,
                             QImage::Format_Grayscale8);
        writePng(picture, path, kPngQualityFast);
        reporter.fileWritten(path);
        if (reporter.showsResults())
            reporter.showResult(ResultKind::Map, path, reducedPicture(picture));
        if (settings.deghost) {
            reporter.EscribirEstado(movingAreasLine(moving, set), true);
            saveMovingAreas(rutaReferencia, moving, grey, set, reporter);
            set.motion = std::move(moving);
            set.motionMap = path;
        }

        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        reporter.beep();
        reporter.processEvents();
        return path;
    } catch (...) {
        reporter.InformarError(QStringLiteral("GenerarMapa"));
        return QString();
    }
}
