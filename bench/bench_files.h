// Inputs the benchmarks share: synthetic frames of one scene, the set they
// make once loaded, and 16-bit RGB TIFFs laid out as dcraw writes them.
#pragma once

#include "pipeline/image_set.h"
#include "support/gfl_bitmap.h"

#include <QString>
#include <QTemporaryDir>

// One uncompressed strip of 16-bit RGB pixels. Throws on failure.
void writeUncompressedTiff(const GflBitmap& image, const QString& path);

// A smooth scene over ten stops with a ripple, 1 % shot noise and 20 counts
// of read noise, saturating at 62000 (reads 65535), at `gain` times the base
// exposure.
GflBitmap syntheticFrame(int width, int height, double gain, uint32_t seed);

// Five 6000 x 4000 frames about 1.4 EV apart, in memory as "Calc EV" leaves
// them: sorted from the darkest, relative exposures exact, files named
// IMG_k.tiff in a temporary folder (only IMG_1.tiff is written, for the
// stages that look at image 1 on disk; outputs go there). Made once per run.
struct BenchBracket {
    QTemporaryDir dir;
    QString folder;  // ends in "/"
    ImageSet set;
    QString reference() const { return folder + QStringLiteral("IMG_1.CR2"); }
};
BenchBracket& benchBracket();
// The map of the bench bracket at the default settings, built once per run.
const QString& benchBracketMap();
constexpr int kBenchWidth = 6000;
constexpr int kBenchHeight = 4000;
