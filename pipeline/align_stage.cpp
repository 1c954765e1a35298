// "Aligning images...": the stage of "Calc EV" that estimates the moves of a
// handheld set, reports them and puts the frames into image 1's geometry.
#include "align/align.h"
#include "pipeline/calc_ev.h"

#include "support/errors.h"
#include "support/numbers.h"
#include "support/paths.h"
#include "support/reporter.h"

namespace {

// "IMG_0002.tiff: shift +3.37 -2.15 px, rotation +0.210 deg"
QString moveLine(const QString& path, const RigidMove& m) {
    return NombreArchivo(path) + QStringLiteral(": shift ") + signedFixed(m.dx, 2) +
           QStringLiteral(" ") + signedFixed(m.dy, 2) + QStringLiteral(" px, rotation ") +
           signedFixed(m.degrees(), 3) + QStringLiteral(" deg");
}

}  // namespace

bool alignImages(const AlignSettings& settings, ImageSet& set, Reporter& reporter) {
    if (!settings.alinear) return true;
    try {
        reporter.EscribirEstado(QStringLiteral("\r\nAligning images..."), true);
        if (!set.usable())
            throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
        const size_t n = set.ImagenesTIFF.size();
        std::vector<const GflBitmap*> images;
        for (const GflBitmap& image : set.ImagenesTIFF) images.push_back(&image);
        const std::vector<FrameAlignment> moves =
            estimateMoves(images, [&reporter](int percent) { reporter.stageProgress(percent); });

        set.Cobertura.assign(n, CoveredRows());
        for (size_t k = 1; k < n; ++k) {
            const QString& path = set.ArchivosTIFF[static_cast<qsizetype>(k)];
            if (!moves[k].aligned) {
                const QString text =
                    NombreArchivo(path) + QStringLiteral(": could not be aligned, used as shot");
                reporter.EscribirEstado(text, true);
                reporter.MostrarAviso(text);
                continue;
            }
            // The window runs at every status line: the set is checked again.
            if (!set.usable())
                throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
            placeFrame(set.ImagenesTIFF[k], moves[k].move, set.Cobertura[k]);
            reporter.EscribirEstado(moveLine(path, moves[k].move), true);
            reporter.stageProgress(static_cast<int>(k * 100 / (n - 1)));
        }
        return true;
    } catch (...) {
        reporter.InformarError(QStringLiteral("alignImages"));
        // Some frames may be moved and others not: no stage may use the set.
        set.release();
        return false;
    }
}
