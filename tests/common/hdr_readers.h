// Test helpers for the scene-linear and HDR outputs, read with the formats'
// own libraries (OpenEXR, libtiff, libavif) rather than the program's code.
#pragma once

#include <ImfHeader.h>

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

// Interleaved R, G, B of a float file, row-major.
struct FloatPixels {
    int width = 0, height = 0;
    std::vector<float> values;
};
FloatPixels readExrPixels(const QString& path);
Imf::Header readExrHeader(const QString& path);
FloatPixels readFloatTiffPixels(const QString& path);

// An AVIF decoded by libavif: its signalling and its R'G'B' codes.
struct DecodedAvif {
    bool ok = false;
    int width = 0, height = 0, depth = 0;
    int primaries = 0, transfer = 0, matrix = 0;
    bool yuv444 = false, fullRange = false;
    std::vector<uint16_t> codes;  // interleaved R, G, B at `depth` bits
    QByteArray exif;
};
DecodedAvif decodeAvif(const QString& path);

// MaxCLL and MaxFALL of the clli property the primary item is associated
// with, from the file's boxes; empty without one.
std::optional<std::array<uint16_t, 2>> contentLightLevel(const QString& path);

// The fields of an EXIF block (its first directory and the EXIF one): ASCII
// values as text, SHORT and RATIONAL ones as numbers, by tag.
struct ExifFields {
    std::map<uint16_t, QString> text;
    std::map<uint16_t, double> number;
};
ExifFields readExif(const QByteArray& block);
