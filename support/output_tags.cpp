// Shot data of a developed frame, the description line of an output file and
// the tags that go with it.
#include "support/output_tags.h"

#include "support/numbers.h"
#include "support/tiff_io.h"

#include <cmath>

ShotData readShotData(const QString& developedTiff) noexcept {
    ShotData shot;
    try {
        const TiffTags tags = readTiffTags(developedTiff);
        shot.make = tags.make;
        shot.model = tags.model;
        shot.dateTime = tags.dateTime;
        shot.exif = tags.exif;
        shot.colours = readRgbProfile(tags.iccProfile);
    } catch (...) {
        // An unreadable frame fails the blend elsewhere, where it is reported;
        // here it only means an output without shot data.
    }
    return shot;
}

QString describeBlend(const BlendSummary& blend) {
    QString line = QStringLiteral("Blend of %1 frame%2")
                       .arg(blend.frames)
                       .arg(blend.frames == 1 ? QString() : QStringLiteral("s"));
    if (blend.frames > 1)
        line += QStringLiteral(" %1 EV apart")
                    .arg(decimalForCommand(roundHalfEven(blend.stepEv * 100) / 100));
    line += QStringLiteral(", gamma ") + decimalForCommand(blend.gamma);
    line += blend.blackAndWhite ? QStringLiteral(", B&W") : QStringLiteral(", colour");
    if (blend.weighted) line += QStringLiteral(", weighted");
    line += QStringLiteral(", %1%2 EV")
                .arg(blend.bracketOffsetEv < 0 ? QStringLiteral("-") : QStringLiteral("+"))
                .arg(std::abs(blend.bracketOffsetEv));
    return line;
}

double measuredStepEv(const std::vector<double>& expRelativas) {
    if (expRelativas.size() < 2) return 0;
    const double first = expRelativas.front(), last = expRelativas.back();
    if (!(first > 0) || !(last > 0)) return 0;
    const double span = std::abs(std::log2(first / last));
    return std::isfinite(span) ? span / static_cast<double>(expRelativas.size() - 1) : 0;
}

TiffTags outputTags(const ShotData& shot, const QByteArray& profile, const QString& description) {
    TiffTags tags;
    tags.iccProfile = profile;
    tags.make = shot.make;
    tags.model = shot.model;
    tags.dateTime = shot.dateTime;
    tags.description = description;
    tags.exif = shot.exif;
    return tags;
}
