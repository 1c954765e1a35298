// Test helpers for the scene-linear and HDR outputs, read with the formats'
// own libraries (OpenEXR, libtiff, libavif) rather than the program's code.
#pragma once

#include <ImfHeader.h>

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// Interleaved R, G, B of a float file, row-major; empty when unreadable.
std::vector<float> readExrPixels(const QString& path);
Imf::Header readExrHeader(const QString& path);
std::vector<float> readFloatTiffPixels(const QString& path);

// An AVIF decoded by libavif: its signalling and its R'G'B' codes.
struct DecodedAvif {
    bool ok = false;
    int depth = 0;
    std::array<int, 3> cicp{};  // primaries, transfer, matrix
    bool yuv444 = false, fullRange = false;
    std::vector<uint16_t> codes;  // interleaved R, G, B
    QByteArray exif;
};
DecodedAvif decodeAvif(const QString& path);

// MaxCLL and MaxFALL of the file's clli box; empty without one.
std::optional<std::array<uint16_t, 2>> contentLightLevel(const QString& path);
