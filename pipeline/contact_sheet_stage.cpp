// "T": the B&W contact sheet as the log tells it, saved as a GIF.
#include "pipeline/blend_stage.h"
#include "pipeline/map_reading.h"

#include "blend/contact_sheet.h"
#include "support/errors.h"
#include "support/gif_writer.h"
#include "support/paths.h"
#include "support/reduced_picture.h"
#include "support/reporter.h"

int TestImagenesBN(const QString& rutaReferencia, const QString& rutaMapa, ImageSet& set,
                   Reporter& reporter) {
    try {
        const int n = static_cast<int>(set.ImagenesTIFF.size());
        reporter.EscribirEstado(QStringLiteral("Loading blending map..."), false);
        MapLevels map;
        if (!openMap(set, rutaMapa, false, map, reporter)) return -1;

        reporter.EscribirEstado(QStringLiteral("Decimating blending map to ") +
                                    QString::number(set.AnchoImagen / kContactStep) +
                                    QStringLiteral("x") +
                                    QString::number(set.AltoImagen / kContactStep) +
                                    QStringLiteral("..."),
                                true);
        const DecimatedMap decimated = decimateMap(map, set.TablaMapa, n);
        map = MapLevels();

        const double samples = static_cast<double>(decimated.width) * decimated.height;
        if (samples == 0) throw RunError(kErrDivisionByZero, QStringLiteral("Division by zero"));
        reporter.EscribirEstado(QStringLiteral("Decimated image contribution..."), true);
        logShares(set, decimated.contribution, samples, static_cast<double>(decimated.blended),
                  reporter);
        reporter.EscribirEstado(QStringLiteral("\r\nGenerating B&W contact sheet..."), true);

        reloadLeastExposed(set, reporter);
        const QImage hoja = drawContactSheet(set, decimated, [&reporter](int tiles) {
            reporter.showProgress(QString::number(tiles * 100 / kContactTiles) +
                                  QStringLiteral("%"));
            reporter.processEvents();
        });

        const QString name =
            outputFileName(set.place, QStringLiteral("BWTest"), QStringLiteral(".gif"));
        reporter.EscribirEstado(
            QStringLiteral("\r\nSaving B&W samples as ") + name + QStringLiteral("..."), true);
        const QString path = outputFolder(set.place, rutaReferencia) + name;
        writeGif(hoja, path);
        reporter.fileWritten(path);
        if (reporter.showsResults())
            reporter.showResult(ResultKind::Sheet, path, reducedPicture(hoja));
        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        reporter.beep();
        return 1;
    } catch (...) {
        reporter.InformarError(QStringLiteral("TestImagenesBN"));
        reporter.processEvents();
        return -1;
    }
}
