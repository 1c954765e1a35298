// Minimal DNG writer: one little-endian IFD holding an uncompressed 16-bit
// RGGB mosaic, plus an EXIF IFD with the exposure settings.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace make_bracket {

struct ShotSettings {
    double exposureTime = 0.0;  // seconds
    double fNumber = 0.0;
    int iso = 0;
    double focalLengthMm = 0.0;
};

// Every byte of the file before the pixels; the mosaic follows right after,
// row-major, little-endian, in contiguous strips.
std::vector<std::uint8_t> dngHeader(int width, int height, const ShotSettings& shot);

// Writes header and mosaic to `path` through a hidden temporary file in the
// same folder and a rename, so no reader ever sees a half-written DNG. Throws
// std::runtime_error with the reason on failure (the temporary is removed).
void writeDng(const std::filesystem::path& path, int width, int height,
              const std::vector<std::uint16_t>& mosaic, const ShotSettings& shot);

// Nearest fraction num/den to `value` >= 0 with both parts below 2^32
// (continued fractions); exact for the power-of-two times of whole EV steps.
std::pair<std::uint32_t, std::uint32_t> toRational(double value);

// Human form of a shutter time: "1/1024 s", "0.5 s", "4 s".
std::string formatExposureTime(double seconds);

}  // namespace make_bracket
