// How 16-bit samples show on an 8-bit screen: v / 257 rounded, as a viewer
// shows a 16-bit file, or through a display gamma, as the preview box
// brightens the linear files dcraw develops.
#pragma once

#include <cstdint>
#include <vector>

// No 16-bit value lies half way between two 8-bit ones: plain rounding.
inline uint8_t screenValue(uint16_t v) {
    return static_cast<uint8_t>((v + 128) / 257);
}

// 65536 entries: screenValue of each sample.
std::vector<uint8_t> plainScreenTable();
// 65536 entries: 255 (v / 65535)^(1 / gamma), rounded half away from zero.
std::vector<uint8_t> gammaScreenTable(double gamma);
