// The output stage and what shapes it: inverse gamma, channel weights, the
// ETTR gain, quantisation of the planes, file names and the bracketed saves.
#include "blend/blend_internal.h"

#include "support/errors.h"
#include "support/numbers.h"
#include "support/output_tags.h"
#include "support/parallel.h"
#include "support/paths.h"
#include "support/reduced_picture.h"
#include "support/reporter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>

float inverseGamma(int tenths) {
    return static_cast<float>(1.0 / (tenths / 10.0));
}

QString gammaForFileName(float g) {
    const float gamma = static_cast<float>(1.0 / static_cast<double>(g));
    return ReemplazarTodo(QString::number(static_cast<double>(gamma), 'g', 7), QStringLiteral(","),
                          QStringLiteral("."));
}

MixWeights mixWeights(int pesoRojo, int pesoAzul) {
    MixWeights w{};
    w.r = static_cast<float>(pesoRojo / 100.0);
    w.b = static_cast<float>(pesoAzul / 100.0);
    w.g = (1.0f - w.r) - w.b;
    return w;
}

namespace {

QString outputKind(bool blancoNegro) {
    return QStringLiteral("OD") + (blancoNegro ? QStringLiteral("_BW") : QString());
}

// What follows the time: "_<profile>_g<gamma>".
QString outputRest(const QString& perfil, float g) {
    // A typed profile name must not lead the file into another folder.
    QString profile = ReemplazarTodo(perfil, QStringLiteral(" "), QString());
    profile.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("_") + profile + QStringLiteral("_g") + gammaForFileName(g);
}

}  // namespace

QString outputBaseName(bool blancoNegro, const QString& hhmmss, const QString& perfil, float g) {
    return outputKind(blancoNegro) + QStringLiteral("_") + hhmmss + outputRest(perfil, g);
}

QString outputBaseName(bool blancoNegro, const OutputPlace& place, const QString& perfil, float g) {
    return outputFileName(place, outputKind(blancoNegro), outputRest(perfil, g));
}

QString bracketSuffix(int o, int count, int step) {
    if (count <= 1) return QString();
    return QStringLiteral("_") + (o > 1 ? QStringLiteral("+") : QString()) +
           QString::number((o - 1) * step) + QStringLiteral("EV");
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

void applyETTR(const ImageSet& set, const BlendSettings& settings, std::vector<double>& factors,
               Reporter& reporter) {
    reporter.EscribirEstado(QStringLiteral("Calculating ETTR correction..."), true);
    reporter.EscribirEstado(QString(), true);
    const MixWeights weights = mixWeights(settings.pesoRojo, settings.pesoAzul);
    const int32_t m = brightestValue(set.ImagenesTIFF[0], settings.blancoNegro, weights);
    if (m >= 65535) {
        reporter.EscribirEstado(QStringLiteral("Already clipped highlights"), true);
        return;
    }
    if (m == 0) throw RunError(kErrDivisionByZero, QStringLiteral("Division by zero"));
    const double ev = std::log(65535.0 / m) / std::log(2.0);
    reporter.EscribirEstado(QStringLiteral("Histogram correction by +") +
                                shortestDecimal(roundHalfEven(ev * 1000) / 1000) +
                                QStringLiteral("EV"),
                            true);
    for (size_t i = 0; i < factors.size(); ++i) factors[i] = set.ExpRelativas[i] * 65535 / m;
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

void writeOutputs(const QString& rutaReferencia, const BlendSettings& settings, float g,
                  const RowBlender& blender, const ImageSet& set, Reporter& reporter) {
    // A single file is blended strip by strip as it is encoded; brackets
    // share planes blended once.
    OutputPlanes planes;
    writeOutputFiles(rutaReferencia, settings, g, set, reporter, [&](int o, double factor) {
        if (settings.numBracketing <= 1) return blendedRows(blender, factor);
        if (o == 1) planes = blendPlanes(blender);
        return quantizedRows(planes, factor);
    });
}

void writeOutputFiles(const QString& rutaReferencia, const BlendSettings& settings, float g,
                      const ImageSet& set, Reporter& reporter,
                      const std::function<RgbRows(int o, double factor)>& rowsOf) {
    const int count = settings.numBracketing;
    reporter.EscribirEstado(QStringLiteral("Building output file") +
                                (count > 1 ? QStringLiteral("s") : QString()) +
                                QStringLiteral("..."),
                            true);
    const QString base = outputBaseName(settings.blancoNegro, set.place, settings.perfil, g);
    const QString folder = outputFolder(set.place, rutaReferencia);
    // What other programs need to show the files right: the developed
    // frames' colour space with this gamma, and the shot's data.
    const ShotData shot = readShotData(set.TIFFMenosExpuesto);
    const QByteArray profile = buildOutputProfile(shot.colours, settings.gamma / 10.0);
    BlendSummary summary;
    summary.frames = static_cast<int>(set.ImagenesTIFF.size());
    summary.stepEv = measuredStepEv(set.ExpRelativas);
    summary.gamma = settings.gamma / 10.0;
    summary.blackAndWhite = settings.blancoNegro;
    summary.weighted = settings.merge == BlendMerge::Weighted;
    for (int o = 1; o <= count; ++o) {
        if (count > 1)
            reporter.EscribirEstado(QStringLiteral("Bracketing ") + QString::number(o) +
                                        QStringLiteral("/") + QString::number(count) +
                                        QStringLiteral("..."),
                                    true);
        const int d = (o - 1) * settings.evBracketing;
        // Brightening the linear blend by d EV, through the gamma.
        const double factor = o == 1 ? 1.0 : std::pow(std::pow(2.0, d), static_cast<double>(g));
        const QString name =
            base + bracketSuffix(o, count, settings.evBracketing) + QStringLiteral(".tif");
        reporter.EscribirEstado(QStringLiteral("Saving image as ") + name, true);
        // A failed save is reported by the writer; the next bracket still comes.
        summary.bracketOffsetEv = d;
        // The first file is shown in the window: a small copy is averaged as it is encoded.
        std::optional<ReducedRgb16> copy;
        const RgbRows rows = rowsOf(o, factor);
        if (o == 1 && reporter.showsResults()) copy.emplace(rows.width, rows.height);
        SharedProgress progress(rows.height, [&reporter](int p) { reporter.stageProgress(p); });
        if (!GuardarGflBitmap(watchedRows(rows, copy ? &*copy : nullptr, progress), folder + name,
                              reporter, outputTags(shot, profile, describeBlend(summary)))) {
            reporter.fileWritten(folder + name);
            if (copy) reporter.showResult(ResultKind::Output, folder + name, copy->picture());
        }
        progress.finish();
    }
    reporter.EscribirEstado(QStringLiteral("DONE"), true);
    reporter.beep();
}
