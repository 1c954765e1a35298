// Synthetic exposure brackets and TIFF sets for the exposure-analysis tests.
#include "tests/common/exposure_sets.h"

#include "tests/common/test_images.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <random>

GflBitmap bracketFrame(int width, int height, double gain, uint32_t noiseSeed) {
    std::mt19937 rng(noiseSeed);
    std::normal_distribution<double> unit(0.0, 1.0);
    GflBitmap b;
    b.width = width;
    b.height = height;
    b.pixels.resize(b.sampleCount());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // Radiance from 8 to about 8 * 2^10 over the frame, with a ripple so
            // neighbouring pixels differ; channels at fixed colour ratios.
            const double u = static_cast<double>(x) / std::max(1, width - 1);
            const double v = static_cast<double>(y) / std::max(1, height - 1);
            const double stops = 10 * (0.7 * u + 0.3 * v) + 0.3 * std::sin(x * 0.37 + y * 0.21);
            const double base = 8 * std::exp2(stops);
            const double colour[3] = {1.0, 0.8, 0.55};
            for (int c = 0; c < 3; ++c) {
                const double signal = base * colour[c] * gain;
                double value = signal + unit(rng) * (0.01 * signal + 20);
                if (signal >= 62000) value = 65535;  // saturated photosite
                b.row(y)[x * 3 + c] =
                    static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
            }
        }
    return b;
}

GflBitmap uniformBitmap(int width, int height, uint16_t r, uint16_t g, uint16_t b) {
    GflBitmap image;
    image.width = width;
    image.height = height;
    image.pixels.resize(image.sampleCount());
    for (size_t i = 0; i < image.pixels.size(); i += 3) {
        image.pixels[i] = r;
        image.pixels[i + 1] = g;
        image.pixels[i + 2] = b;
    }
    return image;
}

void writeTiffSet(const QString& folder, const QStringList& names,
                  const std::vector<GflBitmap>& images) {
    TiffLayout layout;
    layout.rowsPerStrip = 16;
    for (qsizetype i = 0; i < names.size(); ++i)
        writeTestTiff(folder + names[i], images[static_cast<size_t>(i)], layout);
}

QStringList writeBracketSet(const QString& folder, int count, int width, int height,
                            uint32_t firstSeed) {
    std::vector<GflBitmap> frames;
    QStringList tiffs, raws;
    for (int i = 0; i < count; ++i) {
        frames.push_back(bracketFrame(width, height, 4.0 * std::pow(4.0, i),
                                      firstSeed + static_cast<uint32_t>(i)));
        tiffs << QStringLiteral("IMG_%1.tiff").arg(i + 1);
        raws << QStringLiteral("IMG_%1.CR2").arg(i + 1);
    }
    writeTiffSet(folder, tiffs, frames);
    return raws;
}

QString dec(const char* pointForm) {
    QString text = QString::fromLatin1(pointForm);
    text.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
    return text;
}
