// The blend as written, column by column, one pixel at a time.
#include "tests/common/blend_reference.h"

#include "tests/common/exposure_sets.h"
#include "tests/common/map_reference.h"

#include <cmath>

namespace {

double gammaOf(double v, float g) {
    if (g == 1.0f) return v;
    return 65535 * std::pow(v / 65535, static_cast<double>(g));
}

}  // namespace

LiteralBlend literalBlend(const ImageSet& set, const std::vector<uint8_t>& levels,
                          const std::vector<float>& tabla, const BlendSettings& s) {
    LiteralBlend out;
    const int w = set.AnchoImagen, h = set.AltoImagen, n = static_cast<int>(set.ImagenesTIFF.size());
    out.width = w;
    out.height = h;
    out.contribution.assign(static_cast<size_t>(n) + 1, 0.0);
    auto sample = [&](int k, int x, int y, int c) -> double {
        return set.ImagenesTIFF[static_cast<size_t>(k) - 1].row(y)[x * 3 + c];
    };
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            const float m = tabla[levels[static_cast<size_t>(y) * w + x]];
            const int k = static_cast<int16_t>(m);
            if (static_cast<float>(k) == m) {
                out.contribution[static_cast<size_t>(k)] += 1;
            } else {
                const float f = m - k;
                out.contribution[static_cast<size_t>(k)] += 1 - f;
                out.contribution[static_cast<size_t>(k) + 1] += f;
                ++out.progressive;
            }
        }

    const float wr = static_cast<float>(s.pesoRojo / 100.0);
    const float wb = static_cast<float>(s.pesoAzul / 100.0);
    const float wg = 1 - wr - wb;
    out.factors = set.ExpRelativas;
    if (s.ettr) {
        int32_t m = 0;
        for (int x = 0; x < w && m < 65535; ++x)
            for (int y = 0; y < h; ++y) {
                if (s.blancoNegro) {
                    const double v = static_cast<double>(wr) * sample(1, x, y, 0) +
                                     static_cast<double>(wg) * sample(1, x, y, 1) +
                                     static_cast<double>(wb) * sample(1, x, y, 2);
                    m = std::max(m, static_cast<int32_t>(std::nearbyint(v)));
                } else {
                    for (int c = 0; c < 3; ++c) m = std::max(m, static_cast<int32_t>(sample(1, x, y, c)));
                }
            }
        out.brightest = m;
        if (m < 65535) {
            out.ettrApplied = true;
            for (int i = 0; i < n; ++i) out.factors[static_cast<size_t>(i)] = set.ExpRelativas[static_cast<size_t>(i)] * 65535 / m;
        }
    }

    const float g = static_cast<float>(1.0 / (s.gamma / 10.0));
    for (auto& p : out.planes) p.assign(static_cast<size_t>(w) * h, 0.0);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            const float m = tabla[levels[static_cast<size_t>(y) * w + x]];
            const int k = static_cast<int16_t>(m);
            const float f = m - k;
            double v[3];
            for (int c = 0; c < 3; ++c) {
                if (static_cast<float>(k) == m)
                    v[c] = sample(k, x, y, c) * out.factors[static_cast<size_t>(k) - 1];
                else
                    v[c] = sample(k, x, y, c) * out.factors[static_cast<size_t>(k) - 1] * (1 - static_cast<double>(f)) +
                           sample(k + 1, x, y, c) * out.factors[static_cast<size_t>(k)] * f;
            }
            const size_t at = static_cast<size_t>(y) * w + x;
            if (s.blancoNegro) {
                double l = static_cast<double>(wr) * v[0] + static_cast<double>(wg) * v[1] +
                           static_cast<double>(wb) * v[2];
                if (l < 0) l = 0;
                for (auto& p : out.planes) p[at] = gammaOf(l, g);
            } else {
                for (int c = 0; c < 3; ++c) out.planes[c][at] = gammaOf(v[c], g);
            }
        }
    return out;
}

GflBitmap LiteralBlend::bracket(int o, int step, float g) const {
    const double f = o == 1 ? 1.0 : std::pow(std::pow(2.0, (o - 1) * step), static_cast<double>(g));
    GflBitmap b = uniformBitmap(width, height, 0, 0, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const double v = std::nearbyint(f * planes[c][static_cast<size_t>(y) * width + x]);
                b.row(y)[x * 3 + c] = static_cast<uint16_t>(v > 65535 ? 65535 : v);
            }
    return b;
}

ImageSet diskSet(const QString& folder, std::vector<GflBitmap> images, double gap) {
    QStringList names;
    for (size_t i = 1; i <= images.size(); ++i) names << QStringLiteral("IMG_%1.tiff").arg(i);
    writeTiffSet(folder, names, images);
    ImageSet set = memorySet(folder, std::move(images), gap);
    for (qsizetype i = 0; i < set.ArchivosTIFF.size(); ++i)
        set.SellosTIFF[static_cast<size_t>(i)] = fileStamp(set.ArchivosTIFF[i]);
    return set;
}
