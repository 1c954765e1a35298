// The output formats as the window's list and orrindale-batch's --format name
// them, and what each one's files are called.
#pragma once

#include "blend/blend.h"

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

struct OutputFormatInfo {
    OutputFormat format;
    const char* key;        // --format's value and the settings record's
    const char* caption;    // the window's list
    const char* extension;  // of its files, with the dot
};

// Every format in the list's order, the default (today's 16-bit TIFF) first.
// A constant table: looking a format up allocates nothing.
const std::array<OutputFormatInfo, 5>& outputFormats();
const OutputFormatInfo& formatInfo(OutputFormat format);
// The format a --format value names, letter case ignored.
std::optional<OutputFormat> formatFromKey(const QString& key);
QStringList formatKeys();

// Only the 16-bit TIFF is gamma-encoded: the floating-point files hold linear
// values, the AVIF the PQ curve.
inline bool formatUsesGamma(OutputFormat format) {
    return format == OutputFormat::Tiff16;
}
