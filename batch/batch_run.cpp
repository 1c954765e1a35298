// The chain of one set without a window, and the summary of what it wrote.
#include "batch/batch_run.h"

#include "batch/stdout_reporter.h"
#include "batch/tiff_prefetch.h"
#include "blend/blend.h"
#include "develop/decoder_resources.h"
#include "develop/full_development.h"
#include "develop/raw_set.h"
#include "exposure/exposure.h"
#include "maps/maps.h"
#include "support/paths.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMap>

namespace {

// Between looks at the decoders: short, as a finished frame waits that long.
constexpr int kPollMs = 20;

// Name -> (modification time, size) of the plain files of a folder.
using FolderState = QMap<QString, QPair<qint64, qint64>>;

FolderState folderState(const QString& folder) {
    FolderState state;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& f : entries)
        state.insert(f.fileName(), {f.lastModified().toMSecsSinceEpoch(), f.size()});
    return state;
}

QStringList writtenSince(const FolderState& before, const QString& folder) {
    QStringList written;
    const FolderState after = folderState(folder);
    for (auto it = after.constBegin(); it != after.constEnd(); ++it)
        if (!before.contains(it.key()) || before.value(it.key()) != it.value()) written << it.key();
    return written;
}

bool runSet(const BatchOptions& o, const QString& reference, StdoutReporter& rep,
            DecoderLauncher& launcher) {
    QStringList archivosRAW;
    const RawListing listing = LeerArchivosRAW(reference, archivosRAW, rep);
    if (!listing.listed || archivosRAW.isEmpty()) return false;
    // More than ten files is told but not a failure: the first ten are the set.
    rep.resetErrors();
    const QString ruta = listing.reference;
    ImageSet set;

    if (!o.noDevelop) {
        // One process more than there are cores: the last frames of a set
        // then develop side by side instead of one leaving a core idle.
        FullDevelopmentOptions options;
        options.maxProcesses = availableCores() + 1;
        FullDevelopment development(launcher, rep, set, options);
        FullDevelopmentJob job;
        job.rutaReferencia = ruta;
        job.archivosRAW = archivosRAW;
        job.settings = o.develop;
        job.hlRecovery = o.hlRecovery;
        job.decoder = o.decoder;
        // Frames are decoded as they come, while the others still develop.
        // Not with highlight recovery, which loads the set itself meanwhile.
        TiffPrefetch prefetch;
        const DevelopmentStatus developed =
            developToEnd(development, job, kPollMs, [&] {
                if (!o.hlRecovery) prefetch.take(development.pool());
            });
        prefetch.finish(set);
        if (developed != DevelopmentStatus::Complete) return false;
        if (development.numRevelados() < 2) {
            std::fprintf(stderr, "orrindale-batch: fewer than two files of %s were developed\n",
                         qPrintable(NombreArchivo(ruta)));
            return false;
        }
    }
    if (calcularEV(ruta, archivosRAW, o.metodoMedia, o.align, set, rep) == -1) return false;

    QString mapPath = o.mapFile;
    if (mapPath.isEmpty()) {
        mapPath = GenerarMapa(ruta, o.map, set, rep);
        if (mapPath.isEmpty()) return false;
    } else {
        // A chosen map is decoded with the table a build for this set makes.
        const int n = static_cast<int>(set.ImagenesTIFF.size());
        set.TablaMapa = buildTablaMapa(n);
        set.TablaMapaImagenes = n;
    }
    bool ok = true;
    if (!o.noBlend) {
        BlendSettings blend = o.blend;
        blend.rutaMapa = mapPath;
        ok = FusionarImagenes(ruta, blend, set, rep) == 1 && ok;
    }
    if (o.contactSheet) ok = TestImagenesBN(ruta, mapPath, set, rep) == 1 && ok;
    // A file that could not be saved is told in a box; the set has failed.
    return ok && !rep.errorShown();
}

}  // namespace

int runBatch(const BatchOptions& options, StdoutReporter& reporter, DecoderLauncher& launcher,
             std::FILE* summary) {
    int status = 0;
    for (const QString& reference : options.references) {
        const QString folder = QFileInfo(reference).absolutePath();
        const FolderState before = folderState(folder);
        reporter.resetErrors();
        bool ok = false;
        try {
            ok = runSet(options, reference, reporter, launcher);
        } catch (...) {
            reporter.InformarError(QStringLiteral("orrindale-batch"));
        }
        const QStringList written = writtenSince(before, folder);
        std::fprintf(summary, "%s: %s\n", qPrintable(NombreArchivo(reference)),
                     written.isEmpty() ? "no files written"
                                       : qPrintable(QStringLiteral("wrote ") +
                                                    written.join(QStringLiteral(", "))));
        std::fflush(summary);
        if (!ok) status = 1;
    }
    return status;
}
