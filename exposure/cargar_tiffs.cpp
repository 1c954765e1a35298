// Loading the developed TIFF set: one TIFF for each RAW file, all of one
// size. Files are decoded in parallel, then taken over and reported in set
// order, so the log and the set are those of a file-by-file load.
#include "exposure/exposure.h"

#include "support/gfl_bitmap.h"
#include "support/parallel.h"
#include "support/paths.h"
#include "support/reporter.h"

#include <exception>
#include <vector>

namespace {

struct Candidate {
    QString path;
    bool exists = false;
    FileStamp stamp;             // taken before decoding: a file changed meanwhile reloads later
    std::exception_ptr badName;  // the RAW name had no extension
    GflBitmap image;
    BitmapIoResult io;
};

// The entries the sequential loop would reach, up to and including the first
// RAW name that cannot be turned into a TIFF path.
std::vector<Candidate> listCandidates(const QString& folder, const QStringList& archivosRAW,
                                      const QString& tiffFolder) {
    std::vector<Candidate> candidates;
    for (const QString& raw : archivosRAW) {
        Candidate c;
        try {
            c.path = tiffDeRaw(folder + raw, tiffFolder);
        } catch (...) {
            c.badName = std::current_exception();
            candidates.push_back(std::move(c));
            break;
        }
        c.exists = ExisteArchivo(c.path);
        candidates.push_back(std::move(c));
    }
    return candidates;
}

// Takes the frame decoded ahead for this file, when it is still that file.
bool takePreloaded(Candidate& c, std::vector<TIFFPrecargado>& preloaded) {
    for (TIFFPrecargado& p : preloaded) {
        if (p.path != c.path || p.image.empty()) continue;
        const FileStamp now = fileStamp(c.path);
        if (!now.valid || now != p.stamp) return false;
        c.stamp = now;
        c.image = std::move(p.image);
        return true;
    }
    return false;
}

void decodeAll(std::vector<Candidate>& candidates, std::vector<TIFFPrecargado>& preloaded,
               Reporter& reporter) {
    std::vector<Candidate*> present;
    for (Candidate& c : candidates)
        if (c.exists && !takePreloaded(c, preloaded)) present.push_back(&c);
    // Those not taken are stale or not of this set.
    std::vector<TIFFPrecargado>().swap(preloaded);
    // One band per file: as many files at once as there are worker threads.
    SharedProgress progress(static_cast<long long>(present.size()),
                            [&reporter](int percent) { reporter.stageProgress(percent); });
    parallelRows(static_cast<int>(present.size()), 1, [&](const RowBand& band) {
        for (int i = band.begin; i < band.end; ++i) {
            Candidate& c = *present[static_cast<size_t>(i)];
            c.stamp = fileStamp(c.path);
            c.io = loadBitmapQuiet(c.path, c.image);
            progress.done();
        }
    });
    progress.finish();
}

void insufficient(Reporter& reporter) {
    reporter.EscribirEstado(QStringLiteral("\r\nInsufficient TIFF files"), true);
    reporter.EscribirEstado(QStringLiteral("DONE"), true);
    reporter.beep();
}

}  // namespace

int CargarTIFFs(const QString& rutaReferencia, const QStringList& archivosRAW, ImageSet& set,
                Reporter& reporter) {
    bool started = false;
    try {
        const QString folder = CarpetaArchivo(rutaReferencia);
        const qsizetype r = archivosRAW.size();
        if (r < 2) {
            // The log is not restarted and a loaded set stays as it is.
            std::vector<TIFFPrecargado>().swap(set.TIFFsPrecargados);
            insufficient(reporter);
            return 0;
        }
        reporter.EscribirEstado(
            QStringLiteral("Loading ") + QString::number(r) + QStringLiteral(" TIFF files..."),
            false);
        started = true;
        if (set.TIFFsCargados) set.release();
        set.TablaMapa.clear();
        set.TablaMapaImagenes = 0;
        set.Cobertura.clear();

        std::vector<Candidate> candidates = listCandidates(folder, archivosRAW, set.place.folder);
        decodeAll(candidates, set.TIFFsPrecargados, reporter);

        int count = 0;
        bool mismatch = false;
        for (Candidate& c : candidates) {
            if (c.badName) std::rethrow_exception(c.badName);
            if (!c.exists) {
                reporter.EscribirEstado(QStringLiteral("file ") + NombreArchivo(c.path) +
                                            QStringLiteral(" not found. Skipped"),
                                        true);
                continue;
            }
            ++count;
            set.ArchivosTIFF.resize(count);
            set.ImagenesTIFF.resize(static_cast<size_t>(count));
            set.ArchivosTIFF[count - 1] = c.path;
            set.SellosTIFF.resize(static_cast<size_t>(count));
            set.SellosTIFF[static_cast<size_t>(count) - 1] = c.stamp;
            GflBitmap& image = set.ImagenesTIFF[static_cast<size_t>(count) - 1];
            // A file that cannot be decoded leaves an empty (0 x 0) entry,
            // reported here in its place in the log.
            if (c.io.failed)
                LiberarGflBitmap(image);
            else
                image = std::move(c.image);
            reportBitmapIo(c.io, reporter);
            if (count == 1) {
                set.AnchoImagen = image.width;
                set.AltoImagen = image.height;
            } else if (image.width != set.AnchoImagen || image.height != set.AltoImagen ||
                       image.empty()) {
                // An empty image is a mismatch even beside another empty one:
                // a set of undecodable files must never pass as loaded.
                mismatch = true;
                break;
            }
        }

        if (mismatch) {
            reporter.EscribirEstado(QStringLiteral("Image dimensions mismatch"), true);
            reporter.EscribirEstado(QStringLiteral("DONE"), true);
            set.release();
            reporter.MostrarError(QStringLiteral("Image dimensions mismatch between ") +
                                  NombreArchivo(set.ArchivosTIFF[0]) + QStringLiteral(" and ") +
                                  NombreArchivo(set.ArchivosTIFF[count - 1]));
            return -1;
        }
        if (count < 2) {
            insufficient(reporter);
            set.release();
            reporter.processEvents();
            return count;
        }
        set.TIFFsCargados = true;
        reporter.processEvents();
        return count;
    } catch (...) {
        reporter.InformarError(QStringLiteral("CargarTIFFs"));
        // Whatever was loaded is not a checked set.
        if (started) set.release();
        return -1;
    }
}
