// "Colour", "B&W" and "T" as the window and the batch run them: the blends
// with their log, the output files and their names, and the contact sheet.
#pragma once

#include "blend/blend.h"
#include "pipeline/image_set.h"

#include <QString>

class Reporter;
struct WeightedModel;

// One blend with its outputs. Returns 1 when it ran to its end, -1 when the
// map did not fit, the table was built for another set, or a failure ended it.
int FusionarImagenes(const QString& rutaReferencia, const BlendSettings& settings, ImageSet& set,
                     Reporter& reporter);

// "T": the B&W contact sheet of 66 channel mixes. Returns 1 when the sheet
// was written, -1 otherwise.
int TestImagenesBN(const QString& rutaReferencia, const QString& rutaMapa, ImageSet& set,
                   Reporter& reporter);

// The gamma as file names show it: 1 / g rounded to single precision, at most
// 7 significant digits, "." as separator.
QString gammaForFileName(float g);

// "OD[_BW]_hhmmss_<profile>_g<gamma>" (the 16-bit TIFF), "..._<profile>_linear"
// (floating-point files) or "..._BT2100_PQ" (HDR AVIF), and the bracket suffix
// of file o of `count` ("" for a single file, "_0EV", "_+2EV", ...), without
// the extension (outputFormats() has it).
QString outputBaseName(bool blancoNegro, const QString& hhmmss, const QString& perfil, float g,
                       OutputFormat format = OutputFormat::Tiff16);
// The same named as the set's place says: "IMG_0003_OD[_BW]_<profile>_g<gamma>"
// with a stem, the time of day taken now without.
QString outputBaseName(bool blancoNegro, const OutputPlace& place, const QString& perfil, float g,
                       OutputFormat format = OutputFormat::Tiff16);
QString bracketSuffix(int o, int count, int step);

// The status line of the weighted merge's noise model.
QString describeNoiseModel(const WeightedModel& model);
