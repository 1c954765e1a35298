// The blend: the map decoded into source positions with each image's share,
// the progressive map, image 1 made current, the ETTR gain, and every pixel
// taken from the one or two images the map names, scaled to image 1's
// exposure and gamma-encoded into three planes for the output stage.
#include "blend/blend.h"
#include "blend/blend_internal.h"
#include "blend/weighted.h"

#include "support/errors.h"
#include "support/image_memory.h"
#include "support/numbers.h"
#include "support/parallel.h"
#include "support/paths.h"
#include "support/png_writer.h"
#include "support/reporter.h"

#include <memory>

namespace {

constexpr int kBandRows = 16;

// What one grey level of the map stands for.
struct Position {
    int k = 0;          // image, or the darker of the two
    float f = 0;        // weight of image k + 1
    bool genuine = true;
};

std::array<Position, 256> decodeLevels(const std::vector<float>& tabla) {
    std::array<Position, 256> levels{};
    for (size_t g = 0; g < 256; ++g) {
        const float m = tabla[g];
        Position& p = levels[g];
        p.k = static_cast<int>(m);  // m >= 1: truncation is the integer part
        p.genuine = static_cast<float>(p.k) == m;
        p.f = m - static_cast<float>(p.k);
    }
    return levels;
}

// The progressive map beside the map file: its name without the extension
// and "_PB.png". A dot that belongs to a folder name is not an extension.
QString progressiveMapPath(const QString& mapPath) {
    const qsizetype dot = mapPath.lastIndexOf(QLatin1Char('.'));
    const qsizetype slash = mapPath.lastIndexOf(QLatin1Char('/'));
    const QString stem = dot > slash ? QuitarExtension(mapPath) : mapPath;
    return stem + QStringLiteral("_PB.png");
}

struct Classification {
    std::array<uint64_t, 256> pixelsPerLevel{};
    QImage progressiveMap;  // genuine pixels red, the others in the map's colour
};

Classification classify(const MapLevels& map, const std::array<Position, 256>& levels) {
    Classification c;
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

}  // namespace

int FusionarImagenes(const QString& rutaReferencia, const BlendSettings& settings, ImageSet& set,
                     Reporter& reporter) {
    try {
        reporter.EscribirEstado(QStringLiteral("Loading blending map..."), false);
        MapLevels map;
        if (!openMap(set, settings.rutaMapa, true, map, reporter)) return -1;
        const int w = set.AnchoImagen, h = set.AltoImagen;
        const int n = static_cast<int>(set.ImagenesTIFF.size());

        const std::array<Position, 256> levels = decodeLevels(set.TablaMapa);
        Classification classes = classify(map, levels);
        map.colours = QImage();

        // Every share is a multiple of 2^-23 (single-precision fractions of
        // positions below 256), so these double sums are exact in any order:
        // the same as adding pixel by pixel.
        std::vector<double> contribution(static_cast<size_t>(n) + 2, 0.0);
        uint64_t progressive = 0;
        for (size_t g = 0; g < 256; ++g) {
            const uint64_t count = classes.pixelsPerLevel[g];
            if (count == 0) continue;
            const Position& p = levels[g];
            if (p.k < 1 || p.k > n || (!p.genuine && p.k + 1 > n))
                throw RunError(kErrOutOfRange, QStringLiteral("Subscript out of range"));
            if (p.genuine) {
                contribution[static_cast<size_t>(p.k)] += static_cast<double>(count);
            } else {
                contribution[static_cast<size_t>(p.k)] +=
                    static_cast<double>(count) * static_cast<double>(1.0f - p.f);
                contribution[static_cast<size_t>(p.k) + 1] +=
                    static_cast<double>(count) * static_cast<double>(p.f);
                progressive += count;
            }
        }

        reporter.EscribirEstado(QStringLiteral("Image contribution..."), true);
        logShares(set, contribution, static_cast<double>(w) * h, static_cast<double>(progressive),
                  reporter);

        if (progressive > 0) {
            // With a folder of the set's own, it goes there, whatever map it
            // comes from: a map shared by many sets is never written beside.
            QString pbPath = progressiveMapPath(settings.rutaMapa);
            if (!set.place.folder.isEmpty()) pbPath = set.place.folder + NombreArchivo(pbPath);
            reporter.EscribirEstado(QStringLiteral("Saving PNG progressive map as ") +
                                        NombreArchivo(pbPath) + QStringLiteral("..."),
                                    true);
            writePng(classes.progressiveMap, pbPath, kPngQualityFast);
            reporter.fileWritten(pbPath);
        }
        classes.progressiveMap = QImage();

        reloadLeastExposed(set, reporter);
        std::vector<double> factors = set.ExpRelativas;
        if (settings.ettr) applyETTR(set, settings, factors, reporter);

        const bool weighted = settings.merge == BlendMerge::Weighted;
        reporter.EscribirEstado(weighted ? QStringLiteral("Blending images (weighted)...")
                                         : QStringLiteral("Blending images..."),
                                true);
        const float g = inverseGamma(settings.gamma);
        const MixWeights weights = mixWeights(settings.pesoRojo, settings.pesoAzul);
        BlendInput input{set, map.red, factors, g, settings.blancoNegro, weights};
        for (size_t level = 0; level < 256; ++level)
            input.levels[level] = {levels[level].k, levels[level].f, levels[level].genuine,
                                   classes.pixelsPerLevel[level] > 0};
        if (weighted) {
            blendWeightedToFiles(rutaReferencia, settings, input, set, reporter);
            return 1;
        }
        reporter.EscribirEstado(QString(), true);
        const RowBlender blender(input);
        writeOutputs(rutaReferencia, settings, g, blender, set, reporter);
        return 1;
    } catch (...) {
        reporter.InformarError(QStringLiteral("FusionarImagenes"));
        return -1;
    }
}
