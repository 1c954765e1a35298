// "Calc EV" and its steps as the window and the batch run them: load the
// developed TIFF set, sort it by exposure, align handheld frames, measure the
// relative exposures. Each step tells the user what it does.
#pragma once

#include "pipeline/image_set.h"

#include <QString>
#include <QStringList>

class Reporter;
struct AlignSettings;

// Loads the TIFF beside each RAW file of the set (RAW names without folder,
// in set order) into `set`. Returns the number of images loaded when the set
// is usable (2 or more), 0 or 1 when too few TIFF files were found, -1 on a
// size mismatch, an undecodable file or an unexpected failure.
int CargarTIFFs(const QString& rutaReferencia, const QStringList& archivosRAW, ImageSet& set,
                Reporter& reporter);

// Ranks the loaded set by mean level. With `recargar` the set stays loaded in
// ascending order of exposure; without it the images are released and only
// OrdenExposicion and TIFFMenosExpuesto carry the ranking. On an unexpected
// failure the set is released (TIFFsCargados false): its order is unknown.
void OrdenarPorExposicion(bool recargar, ImageSet& set, Reporter& reporter);

// The stage of "Calc EV" between sorting and the relative exposures: the
// status lines, the estimate, a WARNING for frames that could not be aligned,
// and the resampled frames in the set with their coverage. Returns false (the
// set released, the failure reported) on an unexpected failure.
bool alignImages(const AlignSettings& settings, ImageSet& set, Reporter& reporter);

// Measures ExpRelativas of the loaded, sorted set: metodoMedia true = Average,
// false = Median (which also writes the "His_hhmmss.gif" histogram beside the
// reference file). Returns 1 on success, -1 on failure. Frames developed with
// `headroom` have each channel judged by where the frames show it clips.
int CalcularExpRelativas(const QString& rutaReferencia, bool metodoMedia, ImageSet& set,
                         Reporter& reporter, bool headroom = false);

// The work of "Calc EV" after its button checks: load, sort with reloading,
// align when asked, relative exposures. Returns 1 when "Build map" may be
// enabled, -1 otherwise. Stops after a failed sort instead of measuring a set
// in unknown order. Without AlignSettings the set is not aligned.
int calcularEV(const QString& rutaReferencia, const QStringList& archivosRAW, bool metodoMedia,
               ImageSet& set, Reporter& reporter);
int calcularEV(const QString& rutaReferencia, const QStringList& archivosRAW, bool metodoMedia,
               const AlignSettings& align, ImageSet& set, Reporter& reporter,
               bool headroom = false);
