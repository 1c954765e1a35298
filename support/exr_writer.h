// OpenEXR files of scene-linear RGB for editors and tone mappers: half or
// float samples, ZIP, with the shot's data in OpenEXR's standard attributes.
#pragma once

#include "support/icc_profile.h"
#include "support/linear_rows.h"

#include <QString>
#include <optional>

enum class ExrPixels { Half, Float };

// Attributes written beside the pixels; empty members are left out.
struct ExrAttributes {
    std::optional<Primaries> chromaticities;
    QString capDate;                 // "YYYY:MM:DD hh:mm:ss", the shot's time
    std::optional<double> expTime;   // seconds
    std::optional<double> aperture;  // f-number
    std::optional<int> isoSpeed;
    QString comments;  // how the file was made
};

// Writes R, G and B as half or float scanlines, ZIP-compressed, rows made in
// chunks as they are written (a few megabytes, whatever the size), through a
// temporary file renamed over the target once whole. Each value is the
// nearest half (ties to even, rounded once from the double; beyond the
// largest half, 65504, it stays at 65504) or the nearest float. The bytes do
// not depend on the thread count. Throws LibraryError with OpenEXR's message,
// std::bad_alloc when memory runs short.
void writeExr(const LinearRgbRows& rows, const QString& path, ExrPixels pixels,
              const ExrAttributes& attributes);
