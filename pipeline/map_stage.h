// "Build map" as the window and the batch run it.
#pragma once

#include "pipeline/image_set.h"

#include <QString>

class Reporter;

// Thresholds, index map, anti-ghosting, progressive borders, decoding table
// (kept in the set) and the map PNG beside the reference file. Returns the
// full path of the map written, or "" when the build failed (already reported).
QString GenerarMapa(const QString& rutaReferencia, const MapSettings& settings, ImageSet& set,
                    Reporter& reporter);
