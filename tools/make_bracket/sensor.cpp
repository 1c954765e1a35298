// Raw Bayer frames from the scene (see sensor.h).
#include "sensor.h"

#include "camera.h"
#include "parallel.h"
#include "random.h"

#include <algorithm>
#include <cmath>

namespace make_bracket {
namespace {

// Below this many electrons the shot noise is drawn from the Poisson law
// itself; above it a normal deviate with the same variance is
// indistinguishable and far cheaper.
constexpr double kPoissonBelow = 40.0;

// Tag that keeps the noise streams apart from the scene-layout stream.
constexpr std::uint64_t kNoiseStream = 0x4e4f495345ULL;

}  // namespace

std::vector<float> referenceElectrons(const Scene& scene, int width, int height) {
    std::vector<float> out(static_cast<std::size_t>(width) * height);
    const double full = CameraModel::fullWellElectrons();
    // Red and blue respond less than green, by the white-balance multipliers.
    const double response[3] = {full / CameraModel::kWhiteBalance[0],
                                full / CameraModel::kWhiteBalance[1],
                                full / CameraModel::kWhiteBalance[2]};
    parallelRows(height, [&](int y) {
        float* row = out.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            const Rgb c = scene.at(x, y);
            const int colour = CameraModel::cfaColour(x, y);
            const double value = colour == 0 ? c.r : colour == 1 ? c.g : c.b;
            row[x] = static_cast<float>(std::max(0.0, value) * response[colour]);
        }
    });
    return out;
}

void exposeFrame(const std::vector<float>& reference, int width, int height,
                 double relativeExposure, std::uint64_t seed, int exposureIndex, bool noise,
                 std::vector<std::uint16_t>& raw) {
    raw.resize(static_cast<std::size_t>(width) * height);
    constexpr double gain = CameraModel::kGain;
    constexpr double readVariance = CameraModel::kReadNoiseDn * CameraModel::kReadNoiseDn;
    constexpr double black = CameraModel::kBlackLevel;
    constexpr double white = CameraModel::kWhiteLevel;
    // A mean this far above white cannot come back below it through noise (the
    // normal tail beyond 10 sigma is below 1e-23), so the draw is skipped.
    const double surelyClipped =
        white - black + 10.0 * std::sqrt(CameraModel::fullWellElectrons()) / gain;

    parallelRows(height, [&](int y) {
        Rng rng(mixSeed(seed ^ kNoiseStream, static_cast<std::uint64_t>(exposureIndex),
                        static_cast<std::uint64_t>(y)));
        const float* in = reference.data() + static_cast<std::size_t>(y) * width;
        std::uint16_t* out = raw.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            const double electrons = in[x] * relativeExposure;
            const double meanDn = electrons / gain;
            if (meanDn > surelyClipped) {
                out[x] = static_cast<std::uint16_t>(white);
                continue;
            }
            // Shot variance in DN² is electrons / gain²; read noise adds to it.
            const double dn =
                !noise ? meanDn
                : electrons < kPoissonBelow
                    ? rng.poisson(electrons) / gain + CameraModel::kReadNoiseDn * rng.normal()
                    : meanDn + std::sqrt(meanDn / gain + readVariance) * rng.normal();
            // Round to nearest (noise dithers it, so the mean stays unbiased);
            // clip only at the sensor's ends, never around the black level.
            const double level = std::clamp(std::floor(black + dn + 0.5), 0.0, white);
            out[x] = static_cast<std::uint16_t>(level);
        }
    });
}

}  // namespace make_bracket
