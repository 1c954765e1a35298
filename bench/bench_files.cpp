// Benchmark input files written straight through libtiff.
#include "bench/bench_files.h"

#include "maps/maps.h"
#include "pipeline/map_stage.h"
#include "support/recording_reporter.h"

#include <tiffio.h>

#include <QFile>
#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

void writeUncompressedTiff(const GflBitmap& image, const QString& path) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif) throw std::runtime_error("cannot create benchmark TIFF");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(image.height));
    const tmsize_t bytes = static_cast<tmsize_t>(image.sampleCount() * 2);
    const bool ok =
        TIFFWriteEncodedStrip(tif, 0, const_cast<uint16_t*>(image.pixels.data()), bytes) == bytes;
    TIFFClose(tif);
    if (!ok) throw std::runtime_error("cannot write benchmark TIFF");
}

GflBitmap syntheticFrame(int width, int height, double gain, uint32_t seed) {
    GflBitmap b;
    b.width = width;
    b.height = height;
    b.pixels.resize(b.sampleCount());
    std::vector<double> columnStops(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x)
        columnStops[static_cast<size_t>(x)] = 7.0 * x / (width - 1) + 0.3 * std::sin(x * 0.37);
    const double colour[3] = {1.0, 0.8, 0.55};
    uint32_t state = seed * 2654435761u + 1;
    auto noise = [&] {  // xorshift, uniform in [-1.73, 1.73): unit variance
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return (state * (1.0 / 4294967296.0) - 0.5) * 3.4641;
    };
    for (int y = 0; y < height; ++y) {
        uint16_t* row = b.row(y);
        const double rowStops = 3.0 * y / (height - 1);
        for (int x = 0; x < width; ++x) {
            const double base = 8 * std::exp2(columnStops[static_cast<size_t>(x)] + rowStops);
            for (int c = 0; c < 3; ++c) {
                const double signal = base * colour[c] * gain;
                const double v = signal >= 62000 ? 65535 : signal + noise() * (0.01 * signal + 20);
                row[x * 3 + c] = static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, 65535.0)));
            }
        }
    }
    return b;
}

BenchBracket& benchBracket() {
    static const std::unique_ptr<BenchBracket> made = [] {
        auto b = std::make_unique<BenchBracket>();
        b->folder = b->dir.path() + QStringLiteral("/");
        const QString& folder = b->folder;
        ImageSet* set = &b->set;
        const double gains[] = {1.0, 2.7, 7.0, 19.0, 50.0};
        for (int i = 0; i < 5; ++i) {
            set->ImagenesTIFF.push_back(
                syntheticFrame(kBenchWidth, kBenchHeight, gains[i], static_cast<uint32_t>(i + 1)));
            set->ArchivosTIFF << folder + QStringLiteral("IMG_%1.tiff").arg(i + 1);
            set->ExpRelativas.push_back(gains[0] / gains[i]);
        }
        // Image 1 on disk, as the blend and the contact sheet look at it again.
        writeUncompressedTiff(set->ImagenesTIFF[0], set->ArchivosTIFF[0]);
        set->SellosTIFF.resize(5);
        set->SellosTIFF[0] = fileStamp(set->ArchivosTIFF[0]);
        set->AnchoImagen = kBenchWidth;
        set->AltoImagen = kBenchHeight;
        set->TIFFMenosExpuesto = set->ArchivosTIFF[0];
        set->TIFFsCargados = true;
        return b;
    }();
    return *made;
}

const QString& benchBracketMap() {
    static const QString path = [] {
        BenchBracket& b = benchBracket();
        RecordingReporter rep;
        return GenerarMapa(b.reference(), MapSettings(), b.set, rep);
    }();
    return path;
}
