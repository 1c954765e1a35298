// Screen tables of 16-bit samples.
#include "support/screen_tone.h"

#include <cmath>

std::vector<uint8_t> plainScreenTable() {
    std::vector<uint8_t> table(65536);
    for (int v = 0; v < 65536; ++v)
        table[static_cast<size_t>(v)] = screenValue(static_cast<uint16_t>(v));
    return table;
}

std::vector<uint8_t> gammaScreenTable(double gamma) {
    std::vector<uint8_t> table(65536);
    for (int v = 0; v < 65536; ++v)
        table[static_cast<size_t>(v)] =
            static_cast<uint8_t>(std::lround(255.0 * std::pow(v / 65535.0, 1.0 / gamma)));
    return table;
}
