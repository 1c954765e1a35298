// The scene-linear and HDR output files as a blend writes them: the row
// source, its preview and progress, the file's metadata, and failures told.
#pragma once

#include "blend/blend.h"
#include "support/linear_rows.h"
#include "support/output_tags.h"

#include <QString>

class Reporter;

// Writes one output of `format` (anything but the 16-bit TIFF) from `rows`
// (1.0 = full scale of the gamma-1 16-bit output) to `path`, with the shot's
// data and `description`. `preview`: the first file of a blend, shown in a
// window that shows results, drawn from a reduced copy made as it is
// written (floating point as the 16-bit TIFF at gamma 2.2 shows the same
// values, PQ as its SDR part). A failure of the file's library is an ERROR
// box with its message; returns whether the file was written.
bool writeHdrFile(OutputFormat format, const LinearRgbRows& rows, const QString& path,
                  const ShotData& shot, const QString& description, bool blackAndWhite,
                  bool preview, Reporter& reporter);
