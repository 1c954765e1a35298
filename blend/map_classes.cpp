// The map as the blend reads it: each grey level decoded into source
// positions, the pixels counted per level with each image's share, and the
// progressive map that shows where two images are blended.
#include "blend/blend_internal.h"

#include "support/errors.h"
#include "support/image_memory.h"
#include "support/parallel.h"

namespace {

constexpr int kBandRows = 16;

}  // namespace

std::array<MapPosition, 256> decodeLevels(const std::vector<float>& tabla) {
    std::array<MapPosition, 256> levels{};
    for (size_t g = 0; g < 256; ++g) {
        const float m = tabla[g];
        MapPosition& p = levels[g];
        p.k = static_cast<int>(m);  // m >= 1: truncation is the integer part
        p.genuine = static_cast<float>(p.k) == m;
        p.f = m - static_cast<float>(p.k);
    }
    return levels;
}

MapClasses classifyMap(const MapLevels& map, const std::array<MapPosition, 256>& levels) {
    MapClasses c;
    c.progressiveMap = allocatedImage(map.width, map.height, QImage::Format_RGB888);
    const bool grey = map.colours.format() == QImage::Format_Grayscale8;
    std::vector<std::array<uint64_t, 256>> perBand(
        static_cast<size_t>(rowBandCount(map.height, kBandRows)));
    parallelRows(map.height, kBandRows, [&](const RowBand& band) {
        auto& counts = perBand[static_cast<size_t>(band.index)];
        counts.fill(0);
        for (int y = band.begin; y < band.end; ++y) {
            const uint8_t* red = map.red.data() + static_cast<size_t>(y) * map.width;
            uchar* out = c.progressiveMap.scanLine(y);
            const uchar* greyLine = grey ? map.colours.constScanLine(y) : nullptr;
            const auto* rgbLine =
                grey ? nullptr : reinterpret_cast<const QRgb*>(map.colours.constScanLine(y));
            for (int x = 0; x < map.width; ++x, out += 3) {
                ++counts[red[x]];
                if (levels[red[x]].genuine) {
                    out[0] = 255;
                    out[1] = 0;
                    out[2] = 0;
                } else if (grey) {
                    out[0] = out[1] = out[2] = greyLine[x];
                } else {
                    out[0] = static_cast<uchar>(qRed(rgbLine[x]));
                    out[1] = static_cast<uchar>(qGreen(rgbLine[x]));
                    out[2] = static_cast<uchar>(qBlue(rgbLine[x]));
                }
            }
        }
    });
    for (const auto& counts : perBand)
        for (size_t g = 0; g < 256; ++g) c.pixelsPerLevel[g] += counts[g];
    return c;
}

LevelShares sharesOfLevels(const std::array<uint64_t, 256>& counts,
                           const std::array<MapPosition, 256>& levels, int n) {
    // Every share is a multiple of 2^-23 (single-precision fractions of
    // positions below 256), so these double sums are exact in any order:
    // the same as adding pixel by pixel.
    LevelShares shares;
    shares.contribution.assign(static_cast<size_t>(n) + 2, 0.0);
    std::vector<double>& contribution = shares.contribution;
    for (size_t g = 0; g < 256; ++g) {
        const uint64_t count = counts[g];
        if (count == 0) continue;
        const MapPosition& p = levels[g];
        if (p.k < 1 || p.k > n || (!p.genuine && p.k + 1 > n))
            throw RunError(kErrOutOfRange, QStringLiteral("Subscript out of range"));
        if (p.genuine) {
            contribution[static_cast<size_t>(p.k)] += static_cast<double>(count);
        } else {
            contribution[static_cast<size_t>(p.k)] +=
                static_cast<double>(count) * static_cast<double>(1.0f - p.f);
            contribution[static_cast<size_t>(p.k) + 1] +=
                static_cast<double>(count) * static_cast<double>(p.f);
            shares.blended += count;
        }
    }
    return shares;
}

void setInputLevels(BlendInput& input, const std::array<MapPosition, 256>& levels,
                    const std::array<uint64_t, 256>& counts) {
    for (size_t level = 0; level < 256; ++level)
        input.levels[level] = {levels[level].k, levels[level].f, levels[level].genuine,
                               counts[level] > 0};
}
