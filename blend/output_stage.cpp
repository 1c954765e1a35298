// What shapes the output samples: inverse gamma, channel weights, the ETTR
// gain and the quantisation of blended rows into 16-bit samples.
#include "blend/blend_internal.h"

#include "support/numbers.h"
#include "support/parallel.h"

#include <algorithm>
#include <atomic>
#include <cmath>

float inverseGamma(int tenths) {
    return static_cast<float>(1.0 / (tenths / 10.0));
}

MixWeights mixWeights(int pesoRojo, int pesoAzul) {
    MixWeights w{};
    w.r = static_cast<float>(pesoRojo / 100.0);
    w.b = static_cast<float>(pesoAzul / 100.0);
    w.g = (1.0f - w.r) - w.b;
    return w;
}

int32_t brightestValue(const GflBitmap& image, bool blancoNegro, const MixWeights& w) {
    std::vector<int32_t> perBand(static_cast<size_t>(rowBandCount(image.height, 32)), 0);
    std::atomic<bool> full{false};  // nothing beats full scale: stop looking
    parallelRows(image.height, 32, [&](const RowBand& band) {
        int32_t m = 0;
        for (int y = band.begin; y < band.end && !full; ++y) {
            const uint16_t* p = image.row(y);
            for (int x = 0; x < image.width; ++x, p += 3) {
                int32_t v;
                if (blancoNegro)
                    v = static_cast<int32_t>(roundHalfEven(static_cast<double>(w.r) * p[0] +
                                                           static_cast<double>(w.g) * p[1] +
                                                           static_cast<double>(w.b) * p[2]));
                else
                    v = std::max<int32_t>({p[0], p[1], p[2]});
                m = std::max(m, v);
            }
            if (m >= 65535) full = true;
        }
        perBand[static_cast<size_t>(band.index)] = m;
    });
    return *std::max_element(perBand.begin(), perBand.end());
}

std::vector<double> ettrFactors(const std::vector<double>& expRelativas, int32_t m) {
    std::vector<double> factors(expRelativas.size());
    for (size_t i = 0; i < factors.size(); ++i) factors[i] = expRelativas[i] * 65535 / m;
    return factors;
}

void quantizeSamples(const double* in, size_t samples, double factor, uint16_t* out) {
    for (size_t i = 0; i < samples; ++i) {
        // Plane values are never negative; anything from 65535 up clips.
        // Below 2^52, adding and taking away 2^52 rounds to the nearest
        // integer with halves to even, as nearbyint does, without a call.
        const double v = factor * in[i];
        out[i] = v >= 65535 ? uint16_t{65535} : static_cast<uint16_t>((v + 0x1p52) - 0x1p52);
    }
}

RgbRows quantizedRows(const OutputPlanes& planes, double factor) {
    RgbRows rows;
    rows.width = planes.width;
    rows.height = planes.height;
    // Made inside the writer's parallel encoding, strip by strip: no 16-bit
    // copy of the whole image is ever held.
    rows.fill = [&planes, factor](int32_t first, int32_t count, uint16_t* out) {
        quantizeSamples(planes.values.get() + static_cast<size_t>(first) * planes.width * 3,
                        static_cast<size_t>(count) * planes.width * 3, factor, out);
    };
    return rows;
}

RgbRows blendedRows(const RowBlender& blender, double factor) {
    RgbRows rows;
    rows.width = blender.width();
    rows.height = blender.height();
    rows.fill = [&blender, factor](int32_t first, int32_t count, uint16_t* out) {
        // One row at a time: a few hundred kilobytes, whatever the strip.
        const size_t samples = static_cast<size_t>(blender.width()) * 3;
        std::vector<double> row(samples);
        for (int32_t y = first; y < first + count; ++y, out += samples) {
            blender.blend(y, 1, row.data());
            quantizeSamples(row.data(), samples, factor, out);
        }
    };
    return rows;
}
