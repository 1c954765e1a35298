// Scene-linear rows, PQ codes with their light levels, and preview samples.
#include "blend/hdr_output.h"

#include "blend/weighted.h"
#include "support/numbers.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// SMPTE ST 2084's constants.
constexpr double kM1 = 2610.0 / 16384;
constexpr double kM2 = 2523.0 / 4096 * 128;
constexpr double kC1 = 3424.0 / 4096;
constexpr double kC2 = 2413.0 / 4096 * 32;
constexpr double kC3 = 2392.0 / 4096 * 32;

// Rows of doubles scaled by `scale` after `fill` made them.
LinearRgbRows scaledRows(int32_t width, int32_t height, double scale,
                         std::function<void(int32_t, int32_t, double*)> fill) {
    LinearRgbRows rows;
    rows.width = width;
    rows.height = height;
    rows.fill = [fill = std::move(fill), scale, width](int32_t first, int32_t count, double* out) {
        fill(first, count, out);
        const size_t samples = static_cast<size_t>(count) * width * 3;
        for (size_t i = 0; i < samples; ++i) out[i] *= scale;
    };
    return rows;
}

// The steps of an encoding onto codes 0..maxCode: where each code from 1 up
// begins, the encoded value being halfway between two codes.
template <typename Decode>
std::vector<double> stepsOf(int maxCode, Decode decode) {
    std::vector<double> steps(static_cast<size_t>(maxCode));
    for (int k = 0; k < maxCode; ++k) steps[static_cast<size_t>(k)] = decode((k + 0.5) / maxCode);
    return steps;
}

}  // namespace

LinearRgbRows linearBlendedRows(const RowBlender& blender, double factor) {
    return scaledRows(blender.width(), blender.height(), factor / 65535,
                      [&blender](int32_t first, int32_t count, double* out) {
                          blender.blend(first, count, out);
                      });
}

LinearRgbRows linearPlaneRows(const OutputPlanes& planes, double factor) {
    return scaledRows(planes.width, planes.height, factor / 65535,
                      [&planes](int32_t first, int32_t count, double* out) {
                          const size_t perRow = static_cast<size_t>(planes.width) * 3;
                          std::copy_n(planes.values.get() + static_cast<size_t>(first) * perRow,
                                      static_cast<size_t>(count) * perRow, out);
                      });
}

LinearRgbRows linearWeightedRows(const WeightedBlender& blender) {
    return scaledRows(blender.width(), blender.height(), 1.0 / 65535,
                      [&blender](int32_t first, int32_t count, double* out) {
                          // The shares were told after the first pass.
                          std::vector<double> shares(blender.imageCount(), 0.0);
                          blender.blend(first, count, out, shares.data());
                      });
}

double pqFromNits(double nits) {
    const double y = std::clamp(nits / kPqPeakNits, 0.0, 1.0);
    const double p = std::pow(y, kM1);
    return std::pow((kC1 + kC2 * p) / (1 + kC3 * p), kM2);
}

double nitsFromPq(double signal) {
    const double p = std::pow(std::clamp(signal, 0.0, 1.0), 1 / kM2);
    return kPqPeakNits * std::pow(std::max(p - kC1, 0.0) / (kC2 - kC3 * p), 1 / kM1);
}

PqRows::PqRows(const LinearRgbRows& linear, const std::array<double, 9>& toBt2020, int bits)
    : linear_(linear),
      m_(toBt2020),
      codes_(stepsOf((1 << bits) - 1, nitsFromPq)),
      rowMax_(static_cast<size_t>(std::max(0, linear.height)), 0.0),
      rowSum_(static_cast<size_t>(std::max(0, linear.height)), 0.0) {}

RgbRows PqRows::rows() {
    RgbRows rows;
    rows.width = linear_.width;
    rows.height = linear_.height;
    rows.fill = [this](int32_t first, int32_t count, uint16_t* out) { encode(first, count, out); };
    return rows;
}

void PqRows::encode(int32_t first, int32_t count, uint16_t* out) {
    const size_t samples = static_cast<size_t>(linear_.width) * 3;
    std::vector<double> row(samples);
    for (int32_t y = first; y < first + count; ++y, out += samples) {
        linear_.fill(y, 1, row.data());
        double brightest = 0, sum = 0;
        for (size_t i = 0; i < samples; i += 3) {
            double nits[3];
            for (size_t c = 0; c < 3; ++c) {
                const double v =
                    m_[c * 3] * row[i] + m_[c * 3 + 1] * row[i + 1] + m_[c * 3 + 2] * row[i + 2];
                nits[c] = std::clamp(v * kLinearOneNits, 0.0, kPqPeakNits);
                out[i + c] = codes_(nits[c]);
            }
            const double top = std::max({nits[0], nits[1], nits[2]});
            brightest = std::max(brightest, top);
            sum += top;
        }
        rowMax_[static_cast<size_t>(y)] = brightest;
        rowSum_[static_cast<size_t>(y)] = sum;
    }
}

ContentLightLevel PqRows::contentLight() const {
    if (rowMax_.empty() || linear_.width <= 0) return {};
    const double top = *std::max_element(rowMax_.begin(), rowMax_.end());
    // Summed in row order, whichever threads made the rows.
    const double mean = std::accumulate(rowSum_.begin(), rowSum_.end(), 0.0) /
                        (static_cast<double>(linear_.width) * linear_.height);
    return {static_cast<uint16_t>(roundHalfEven(top)), static_cast<uint16_t>(roundHalfEven(mean))};
}

void previewSamples(const double* linear, size_t samples, double scale, uint16_t* out) {
    // Linear values (1.0 = full scale) where each 16-bit sample at gamma 2.2 begins.
    static const StepQuantizer gamma22(stepsOf(65535, [](double encoded) {
        return std::pow(encoded, 1 / static_cast<double>(inverseGamma(22)));
    }));
    for (size_t i = 0; i < samples; ++i) out[i] = gamma22(linear[i] * scale);
}
