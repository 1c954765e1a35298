// What an output file says about itself: the shot data of the developed frames
// it was blended from, its colour profile and one line on how it was made.
//
// A blend reads the shot data once, from its least exposed developed TIFF,
// builds the profile once for its gamma, and passes outputTags(...) to
// GuardarGflBitmap for every file it writes:
//
//     const ShotData shot = readShotData(set.TIFFMenosExpuesto);
//     const QByteArray icc = buildOutputProfile(shot.colours, hscGamma / 10.0);
//     const double step = measuredStepEv(set.ExpRelativas);
//     ... for each bracketed file, offset d EV:
//     const QString line = describeBlend({.frames = n, .stepEv = step, .gamma = hscGamma / 10.0,
//                                         .blackAndWhite = bw, .bracketOffsetEv = d});
//     GuardarGflBitmap(output, path, reporter, outputTags(shot, icc, line));
#pragma once

#include "support/icc_profile.h"
#include "support/tiff_tags.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

// What the output copies from a developed frame.
struct ShotData {
    QString make;
    QString model;
    QString dateTime;  // as dcraw wrote it: the shot's time, "YYYY:MM:DD HH:MM:SS"
    ExifShot exif;     // whatever of the four values the file has
    // The primaries and white of the embedded profile; empty when the frame
    // was developed without one (dcraw's "None", raw colour) or its profile is
    // missing, truncated, damaged or not a three-channel matrix-shaper.
    std::optional<RgbColourSpace> colours;
};

// Reads a developed TIFF's shot data. Never throws and never reports: a file
// that cannot be read, or lacks some tags, only gives less.
ShotData readShotData(const QString& developedTiff) noexcept;

// How one output file was made.
struct BlendSummary {
    int frames = 0;     // developed frames blended
    double stepEv = 0;  // measured exposure step between neighbours, EV
    double gamma = 1;   // output gamma (the gamma control's value / 10)
    bool blackAndWhite = false;
    int bracketOffsetEv = 0;  // this file's bracket offset, whole EV (0 for the first)
    bool weighted = false;    // the weighted merge rather than the map's selection
};

// One line for ImageDescription, with "." as the decimal point whatever the
// locale, e.g. "Blend of 5 frames 2 EV apart, gamma 2.2, colour, +0 EV" or
// "Blend of 3 frames 1.98 EV apart, gamma 1, B&W, weighted, +4 EV" (the
// weighted merge says so; the selection says nothing). The step is rounded
// to hundredths of an EV; a single frame has no step.
QString describeBlend(const BlendSummary& blend);

// The mean exposure step between neighbouring frames, in EV, from the relative
// exposures of the sorted set (image 1 = 1, the others below it): the whole
// span divided by the number of gaps. 0 for fewer than two frames or factors
// that are not positive.
double measuredStepEv(const std::vector<double>& expRelativas);

// The tags of one output file: the shot data, the output profile (empty for
// none) and the description. Software is added by the writer.
TiffTags outputTags(const ShotData& shot, const QByteArray& profile, const QString& description);
