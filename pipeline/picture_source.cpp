// The viewer's read-out line and the map's choice at a pixel.
#include "pipeline/picture_source.h"

#include "blend/blend_internal.h"
#include "support/image_memory.h"
#include "support/numbers.h"

#include <QImageReader>
#include <algorithm>

namespace {

const QString kDot = QStringLiteral(" \u00b7 ");

}  // namespace

QString samplesText(const PictureSamples& s) {
    QStringList values;
    for (int c = 0; c < s.channels; ++c) {
        const double v = s.values[static_cast<size_t>(c)];
        // Scene-linear values span many stops: significant digits, not decimals.
        values << (s.floating ? QString::number(v, 'g', 4)
                              : QString::number(static_cast<long long>(v)));
    }
    return values.join(QLatin1Char(' '));
}

QString readoutLine(QPoint pixel, const PictureSamples& samples, const QString& note) {
    QString line = QStringLiteral("x %1 y %2").arg(pixel.x()).arg(pixel.y());
    if (samples.channels > 0) line += kDot + samplesText(samples);
    if (!note.isEmpty()) line += kDot + note;
    return line;
}

MapChoices::MapChoices(QImage levels, const std::vector<float>& tablaMapa, QStringList names)
    : levels_(std::move(levels)), names_(std::move(names)) {
    if (tablaMapa.size() == 256) tabla_ = tablaMapa;
}

QString MapChoices::at(int x, int y) const {
    if (empty() || !levels_.valid(x, y)) return {};
    return ofLevel(levels_.constScanLine(y)[x]);
}

QString MapChoices::ofLevel(int level) const {
    if (tabla_.empty() || level < 0 || level > 255) return {};
    // Image k blended with k + 1 at weight f of k + 1, decoded as the blend does.
    const MapPosition p = decodeLevels(tabla_)[static_cast<size_t>(level)];
    const bool upper = static_cast<double>(p.f) > 0.5;
    const int image = upper ? p.k + 1 : p.k;
    const double share = upper ? static_cast<double>(p.f) : 1 - static_cast<double>(p.f);
    if (image < 1 || image > names_.size()) return {};
    return QStringLiteral("from ") + names_[image - 1] + QStringLiteral(", ") +
           QString::number(roundToInt(share * 100)) + QStringLiteral(" %");
}

QImage mapLevels(const QString& path, QSize expected) {
    try {
        QImageReader reader(path);
        if (reader.size() != expected) {
            // A TIFF map, read as the blend reads it; any other kind is no map.
            const MapLevels map = loadMapLevels(path, expected, false);
            if (map.red.empty()) return {};
            QImage grey = allocatedImage(map.width, map.height, QImage::Format_Grayscale8);
            for (int y = 0; y < map.height; ++y)
                std::copy_n(map.red.data() + static_cast<size_t>(y) * map.width, map.width,
                            grey.scanLine(y));
            return grey;
        }
        const AllocationLimit limit(expected);
        QImage picture = reader.read();
        if (picture.isNull() || picture.format() == QImage::Format_Grayscale8) return picture;
        // The blend reads a colour map's red component.
        picture = convertedImage(picture, QImage::Format_RGB32);
        QImage grey = allocatedImage(picture.width(), picture.height(), QImage::Format_Grayscale8);
        for (int y = 0; y < picture.height(); ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
            uchar* out = grey.scanLine(y);
            for (int x = 0; x < picture.width(); ++x) out[x] = static_cast<uchar>(qRed(in[x]));
        }
        return grey;
    } catch (...) {
        return {};  // no map, no note
    }
}
