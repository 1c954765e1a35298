// Saturation thresholds and the index map: per pixel, the most exposed image
// that is still unclipped there.
#include "maps/maps.h"

#include "support/errors.h"
#include "support/numbers.h"
#include "support/parallel.h"

#include <limits>

namespace {

// nearest(m * base) in double, capped before it becomes an integer so that a
// huge multiplier cannot overflow.
int32_t thresholdFor(double m, double base) {
    double t = roundHalfEven(m * base);
    if (t > kUmbralMaximo) t = kUmbralMaximo;
    if (t < std::numeric_limits<int32_t>::min())
        throw RunError(kErrOverflow, QStringLiteral("Overflow"));
    return static_cast<int32_t>(t);
}

// The index map of an aligned set: a sample an image did not cover fails the
// thresholds there, so a less exposed image that covers it is taken (image 1
// covers every sample).
void buildAlignedIndexMap(const FrameSet& set, int32_t tr, int32_t tg, int32_t tb, ByteMap& map) {
    const int n = static_cast<int>(set.ImagenesTIFF.size());
    parallelRows(map.height, 16, [&](const RowBand& band) {
        std::vector<const uint16_t*> rows(static_cast<size_t>(n) + 1);
        std::vector<int32_t> from(static_cast<size_t>(n) + 1), to(static_cast<size_t>(n) + 1);
        for (int y = band.begin; y < band.end; ++y) {
            for (int k = 1; k <= n; ++k) {
                const size_t i = static_cast<size_t>(k);
                rows[i] = set.ImagenesTIFF[i - 1].row(y);
                const CoveredRows& cover = set.Cobertura[i - 1];
                from[i] = cover.all() ? 0 : cover.begin[static_cast<size_t>(y)];
                to[i] = cover.all() ? map.width : cover.end[static_cast<size_t>(y)];
            }
            uint8_t* out = map.data.data() + static_cast<size_t>(y) * map.width;
            for (int x = 0; x < map.width; ++x) {
                int k = n;
                for (; k > 1; --k) {
                    const size_t i = static_cast<size_t>(k);
                    if (x < from[i] || x >= to[i]) continue;
                    const uint16_t* p = rows[i] + x * 3;
                    if (p[0] <= tr && p[1] <= tg && p[2] <= tb) break;
                }
                out[x] = static_cast<uint8_t>(k);
            }
        }
    });
}

}  // namespace

std::array<int32_t, 3> OptimizarUmbral(const MapSettings& settings) {
    // The percentage times full scale is an integer product; the division is not.
    const double base = static_cast<int32_t>(settings.umbral * 65535) / 100.0;
    std::array<int32_t, 3> umbral{};
    for (size_t c = 0; c < 3; ++c) {
        double m = 1.0;
        if (!settings.balanceCamara) {
            const auto parsed = parseUserNumber(settings.txtWB[c]);
            if (!parsed) throw RunError(kErrTypeMismatch, QStringLiteral("Type mismatch"));
            m = *parsed;
        }
        umbral[c] = thresholdFor(m, base);
    }
    return umbral;
}

std::array<int32_t, 3> thresholdsOfClipLevels(int umbral, const std::array<int, 3>& clipLevels) {
    std::array<int32_t, 3> t{};
    for (size_t c = 0; c < 3; ++c)
        t[c] = thresholdFor(1.0, static_cast<int32_t>(umbral * clipLevels[c]) / 100.0);
    return t;
}

ByteMap buildIndexMap(const FrameSet& set, const std::array<int32_t, 3>& umbral) {
    if (!set.usable())
        throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
    const int n = static_cast<int>(set.ImagenesTIFF.size());
    if (n > 255) throw RunError(kErrOverflow, QStringLiteral("Too many images for a map"));
    ByteMap map;
    map.width = set.AnchoImagen;
    map.height = set.AltoImagen;
    map.data.resize(static_cast<size_t>(map.width) * map.height);
    const int32_t tr = umbral[0], tg = umbral[1], tb = umbral[2];
    if (set.Cobertura.size() == static_cast<size_t>(n)) {
        buildAlignedIndexMap(set, tr, tg, tb, map);
        return map;
    }
    parallelRows(map.height, 16, [&](const RowBand& band) {
        std::vector<const uint16_t*> rows(static_cast<size_t>(n) + 1);
        for (int y = band.begin; y < band.end; ++y) {
            for (int k = 1; k <= n; ++k)
                rows[static_cast<size_t>(k)] = set.ImagenesTIFF[static_cast<size_t>(k) - 1].row(y);
            uint8_t* out = map.data.data() + static_cast<size_t>(y) * map.width;
            for (int x = 0; x < map.width; ++x) {
                // From the brightest image down; image 1 is never rejected.
                int k = n;
                for (; k > 1; --k) {
                    const uint16_t* p = rows[static_cast<size_t>(k)] + x * 3;
                    if (p[0] <= tr && p[1] <= tg && p[2] <= tb) break;
                }
                out[x] = static_cast<uint8_t>(k);
            }
        }
    });
    return map;
}
