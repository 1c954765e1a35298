// What the blends and the contact sheet share as they tell it: the map opened
// against the set, image 1 made current from disk, and each image's share.
#pragma once

#include "blend/blend.h"
#include "pipeline/image_set.h"

#include <vector>

class Reporter;

// After the procedure's first log line: checks that the set's decoding table
// was built for it, loads the map and checks its size, with the messages of
// each refusal. False when the procedure must end with -1 (already told);
// throws on a map that cannot be read.
bool openMap(const ImageSet& set, const QString& rutaMapa, bool keepColours, MapLevels& map,
             Reporter& reporter);
// Image 1 as it is on disk now. A file unchanged since the set was loaded is
// not decoded again; a failed reload (reported) or a file of another size
// leaves the loaded image in place.
void reloadLeastExposed(ImageSet& set, Reporter& reporter);
// Each image's share of `total` (contribution indexed 1..n), in percent to
// one decimal, then the share of the `blended` ones as "% genuine pixels".
void logShares(const ImageSet& set, const std::vector<double>& contribution, double total,
               double blended, Reporter& reporter);
