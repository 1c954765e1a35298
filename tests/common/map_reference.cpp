// Literal map stages and random maps for the tests.
#include "tests/common/map_reference.h"

#include <algorithm>
#include <cmath>
#include <random>

ByteMap literalAntiGhost(const ByteMap& in, int r, int n) {
    ByteMap out = in;
    const DiscMask mask = GenerarMascara(r);
    const int w = in.width, h = in.height;
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            int m = n;
            for (int dx = std::max(-r, -x); dx <= std::min(r, w - 1 - x) && m > 1; ++dx)
                for (int dy = std::max(-r, -y); dy <= std::min(r, h - 1 - y) && m > 1; ++dy)
                    if (mask.inside(dx, dy) && in.at(x + dx, y + dy) < m) m = in.at(x + dx, y + dy);
            out.data[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(m);
        }
    return out;
}

ByteMap literalProgressive(const ByteMap& in, int p, int n) {
    ByteMap out = in;
    const int w = in.width, h = in.height;
    if (p < 1) {
        for (size_t i = 0; i < in.data.size(); ++i)
            out.data[i] = static_cast<uint8_t>(
                std::nearbyint((static_cast<double>(in.data[i]) - n) * 255 / (1 - n)));
        return out;
    }
    const DiscMask mask = GenerarMascara(p);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            long sum = 0, count = 0;
            for (int dx = std::max(-p, -x); dx <= std::min(p, w - 1 - x); ++dx)
                for (int dy = std::max(-p, -y); dy <= std::min(p, h - 1 - y); ++dy)
                    if (mask.inside(dx, dy)) {
                        sum += in.at(x + dx, y + dy);
                        ++count;
                    }
            const double grey = (static_cast<double>(sum) / count - n) * 255 / (1 - n);
            out.data[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::nearbyint(grey));
        }
    return out;
}

ByteMap randomBlobMap(int width, int height, int n, uint32_t seed) {
    std::mt19937 rng(seed);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    ByteMap map;
    map.width = width;
    map.height = height;
    map.data.assign(static_cast<size_t>(width) * height, static_cast<uint8_t>(uniform(1, n)));
    auto put = [&](int x, int y, int k) {
        if (x >= 0 && y >= 0 && x < width && y < height)
            map.data[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(k);
    };
    const int blobs = 2 + uniform(0, 6);
    for (int b = 0; b < blobs; ++b) {
        const int k = uniform(1, n), cx = uniform(0, width - 1), cy = uniform(0, height - 1);
        const int rad = uniform(0, std::max(1, std::max(width, height) / 3));
        if (uniform(0, 1)) {
            for (int y = cy - rad; y <= cy + rad; ++y)
                for (int x = cx - rad; x <= cx + rad; ++x)
                    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= rad * rad) put(x, y, k);
        } else {
            const int hw = uniform(0, rad), hh = uniform(0, rad);
            for (int y = cy - hh; y <= cy + hh; ++y)
                for (int x = cx - hw; x <= cx + hw; ++x) put(x, y, k);
        }
    }
    const int lone = uniform(0, 1 + width * height / 40);
    for (int i = 0; i < lone; ++i) put(uniform(0, width - 1), uniform(0, height - 1), uniform(1, n));
    return map;
}

ImageSet memorySet(const QString& folder, std::vector<GflBitmap> images, double gap) {
    ImageSet set;
    for (size_t i = 1; i <= images.size(); ++i) {
        set.ArchivosTIFF << folder + QStringLiteral("IMG_%1.tiff").arg(i);
        set.ExpRelativas.push_back(std::pow(gap, -static_cast<double>(i - 1)));
    }
    set.AnchoImagen = images.empty() ? 0 : images[0].width;
    set.AltoImagen = images.empty() ? 0 : images[0].height;
    set.ImagenesTIFF = std::move(images);
    set.SellosTIFF.resize(set.ImagenesTIFF.size());
    set.TIFFsCargados = true;
    if (!set.ArchivosTIFF.isEmpty()) set.TIFFMenosExpuesto = set.ArchivosTIFF[0];
    return set;
}
