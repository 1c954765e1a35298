// The viewer's read-out line and the map's choice at a pixel.
#include "pipeline/picture_source.h"

#include "blend/blend_internal.h"
#include "support/numbers.h"

namespace {

const QString kDot = QStringLiteral(" \u00b7 ");

}  // namespace

QString samplesText(const PictureSamples& s) {
    QStringList values;
    for (int c = 0; c < s.channels; ++c) {
        const double v = s.values[static_cast<size_t>(c)];
        values << (s.floating ? shortestDecimal(roundHalfEven(v * 10000) / 10000)
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

MapChoices::MapChoices(std::vector<uint8_t> levels, int width, const std::vector<float>& tablaMapa,
                       QStringList names)
    : levels_(std::move(levels)), width_(width), names_(std::move(names)) {
    if (tablaMapa.size() == 256) tabla_ = tablaMapa;
}

QString MapChoices::at(int x, int y) const {
    if (empty() || x < 0 || y < 0 || x >= width_) return {};
    const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x);
    return i < levels_.size() ? ofLevel(levels_[i]) : QString();
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
