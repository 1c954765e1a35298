// The per-pixel blend into gamma-encoded planes. Each pixel reads only the one
// or two images its map level names. A genuine colour pixel's value is one of
// 65536 per image (the 16-bit sample times the image's factor), so its
// encoding comes from a table computed with the very same arithmetic; every
// other value is encoded as it comes.
#include "blend/blend_internal.h"

#include "support/errors.h"
#include "support/parallel.h"

namespace {

constexpr int kBandRows = 8;

// encodeGamma(s * q) for every 16-bit sample s.
std::vector<double> encodedSamples(double q, float g) {
    std::vector<double> table(65536);
    parallelRows(65536, 4096, [&](const RowBand& band) {
        for (int s = band.begin; s < band.end; ++s)
            table[static_cast<size_t>(s)] = encodeGamma(genuineValue(static_cast<uint16_t>(s), q), g);
    });
    return table;
}

}  // namespace

RowBlender::RowBlender(const BlendInput& in) : in_(in) {
    const int n = static_cast<int>(in.set.ImagenesTIFF.size());
    tables_.resize(static_cast<size_t>(n) + 1);
    if (!in.blancoNegro)
        for (const BlendInput::Level& level : in.levels)
            if (level.used && level.genuine && tables_[static_cast<size_t>(level.k)].empty())
                tables_[static_cast<size_t>(level.k)] =
                    encodedSamples(in.factors[static_cast<size_t>(level.k) - 1], in.g);
}

void RowBlender::blend(int first, int count, double* out) const {
    const BlendInput& in = in_;
    const FrameSet& set = in.set;
    const int w = set.AnchoImagen;
    const int n = static_cast<int>(set.ImagenesTIFF.size());
    std::vector<const uint16_t*> rows(static_cast<size_t>(n) + 2, nullptr);
    for (int y = first; y < first + count; ++y) {
        for (int k = 1; k <= n; ++k)
            rows[static_cast<size_t>(k)] = set.ImagenesTIFF[static_cast<size_t>(k) - 1].row(y);
        const uint8_t* levelRow = in.levelMap.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x, out += 3) {
            const BlendInput::Level& p = in.levels[levelRow[x]];
            const uint16_t* a = rows[static_cast<size_t>(p.k)] + x * 3;
            const double qa = in.factors[static_cast<size_t>(p.k) - 1];
            if (p.genuine) {
                if (!in.blancoNegro) {
                    const double* t = tables_[static_cast<size_t>(p.k)].data();
                    out[0] = t[a[0]];
                    out[1] = t[a[1]];
                    out[2] = t[a[2]];
                    continue;
                }
                const double l = mixed(genuineValue(a[0], qa), genuineValue(a[1], qa),
                                       genuineValue(a[2], qa), in.weights);
                out[0] = out[1] = out[2] = encodeGamma(l, in.g);
                continue;
            }
            const uint16_t* b = rows[static_cast<size_t>(p.k) + 1] + x * 3;
            const double qb = in.factors[static_cast<size_t>(p.k)];
            const double v0 = progressiveValue(a[0], qa, b[0], qb, p.f);
            const double v1 = progressiveValue(a[1], qa, b[1], qb, p.f);
            const double v2 = progressiveValue(a[2], qa, b[2], qb, p.f);
            if (!in.blancoNegro) {
                out[0] = encodeGamma(v0, in.g);
                out[1] = encodeGamma(v1, in.g);
                out[2] = encodeGamma(v2, in.g);
            } else {
                out[0] = out[1] = out[2] = encodeGamma(mixed(v0, v1, v2, in.weights), in.g);
            }
        }
    }
}

OutputPlanes blendPlanes(const RowBlender& blender) {
    OutputPlanes planes;
    planes.width = blender.width();
    planes.height = blender.height();
    // Every value is written below, so the planes need no clearing.
    planes.values.reset(new double[static_cast<size_t>(planes.width) * planes.height * 3]);
    parallelRows(planes.height, kBandRows, [&](const RowBand& band) {
        blender.blend(band.begin, band.end - band.begin,
                      planes.values.get() + static_cast<size_t>(band.begin) * planes.width * 3);
    });
    return planes;
}
