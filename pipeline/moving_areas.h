// What "Build map" does and tells for moving subjects when Deghost is on:
// the detection with its WARNING, the "Moving areas" line and the picture of
// the areas beside the map.
#pragma once

#include "pipeline/image_set.h"

#include <QString>

class Reporter;

// Finds the moving areas of the set, telling it; a WARNING when most of the
// picture differs. False when the build cannot go on (a forced reference the
// set does not have), already told. Throws on unexpected failures.
bool findMovingAreas(const MapSettings& settings, const ImageSet& set, Reporter& reporter,
                     MotionAreas& areas);

// "Moving areas: 3, 2.4% of the picture (references ...)" or "Moving areas:
// none".
QString movingAreasLine(const MotionAreas& areas, const ImageSet& set);

// The map's grey with the moving areas tinted red, as "Moving_hhmmss.png"
// beside the map; shown by a window. Returns its path.
QString saveMovingAreas(const QString& rutaReferencia, const MotionAreas& areas,
                        const ByteMap& grey, const ImageSet& set, Reporter& reporter);
