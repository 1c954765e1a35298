// The blends as the log tells them: the map opened against the set, each
// image's share, the progressive map, image 1 made current, the ETTR gain,
// the blend (selection or weighted) and the output files with their names.
#include "pipeline/blend_stage.h"
#include "pipeline/hdr_files.h"
#include "pipeline/map_reading.h"
#include "pipeline/output_formats.h"

#include "blend/blend_internal.h"
#include "blend/hdr_output.h"
#include "blend/weighted.h"
#include "support/errors.h"
#include "support/numbers.h"
#include "support/output_tags.h"
#include "support/parallel.h"
#include "support/paths.h"
#include "support/png_writer.h"
#include "support/reduced_picture.h"
#include "support/reporter.h"

#include <cmath>
#include <optional>

namespace {

QString outputKind(bool blancoNegro) {
    return QStringLiteral("OD") + (blancoNegro ? QStringLiteral("_BW") : QString());
}

// What follows the time: "_<profile>_g<gamma>" for the 16-bit TIFF,
// "_<profile>_linear" for the floating-point files, "_BT2100_PQ" for the HDR
// AVIF (whatever the profile, its colours are BT.2020's).
QString outputRest(const QString& perfil, float g, OutputFormat format) {
    if (format == OutputFormat::AvifPq) return QStringLiteral("_BT2100_PQ");
    // A typed profile name must not lead the file into another folder.
    QString profile = ReemplazarTodo(perfil, QStringLiteral(" "), QString());
    profile.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("_") + profile +
           (formatUsesGamma(format) ? QStringLiteral("_g") + gammaForFileName(g)
                                    : QStringLiteral("_linear"));
}

// The progressive map beside the map file: its name without the extension
// and "_PB.png". A dot that belongs to a folder name is not an extension.
QString progressiveMapPath(const QString& mapPath) {
    const qsizetype dot = mapPath.lastIndexOf(QLatin1Char('.'));
    const qsizetype slash = mapPath.lastIndexOf(QLatin1Char('/'));
    const QString stem = dot > slash ? QuitarExtension(mapPath) : mapPath;
    return stem + QStringLiteral("_PB.png");
}

}  // namespace

QString gammaForFileName(float g) {
    const float gamma = static_cast<float>(1.0 / static_cast<double>(g));
    return ReemplazarTodo(QString::number(static_cast<double>(gamma), 'g', 7), QStringLiteral(","),
                          QStringLiteral("."));
}

QString outputBaseName(bool blancoNegro, const QString& hhmmss, const QString& perfil, float g,
                       OutputFormat format) {
    return outputKind(blancoNegro) + QStringLiteral("_") + hhmmss + outputRest(perfil, g, format);
}

QString outputBaseName(bool blancoNegro, const OutputPlace& place, const QString& perfil, float g,
                       OutputFormat format) {
    return outputFileName(place, outputKind(blancoNegro), outputRest(perfil, g, format));
}

QString bracketSuffix(int o, int count, int step) {
    if (count <= 1) return QString();
    return QStringLiteral("_") + (o > 1 ? QStringLiteral("+") : QString()) +
           QString::number((o - 1) * step) + QStringLiteral("EV");
}

QString describeNoiseModel(const WeightedModel& model) {
    if (!model.measured)
        return QStringLiteral(
            "Noise model: too little to measure, weights proportional to exposure");
    // Three significant digits say enough of a measured noise.
    auto figure = [](double v) {
        if (!(v > 0)) return shortestDecimal(0);
        const double scale = std::pow(10.0, 2 - std::floor(std::log10(v)));
        return shortestDecimal(roundHalfEven(v * scale) / scale);
    };
    // Variance against the signal s, per channel, averaged over the images.
    QString line = QStringLiteral("Noise model (variance):");
    const char* names[3] = {"R", "G", "B"};
    for (size_t c = 0; c < 3; ++c) {
        double a = 0, b = 0;
        for (const auto& image : model.noise) {
            a += image[c].a;
            b += image[c].b;
        }
        a /= static_cast<double>(model.noise.size());
        b /= static_cast<double>(model.noise.size());
        line += (c == 0 ? QStringLiteral(" ") : QStringLiteral(", ")) + QLatin1String(names[c]) +
                QStringLiteral(" ") + figure(a) + QStringLiteral(" s + ") + figure(b);
    }
    return line;
}

bool openMap(const ImageSet& set, const QString& rutaMapa, bool keepColours, MapLevels& map,
             Reporter& reporter) {
    if (!set.tablaMapaValida()) {
        // Decoding against another set would name images it does not have.
        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        reporter.MostrarError(QStringLiteral("The blending map was built for another image set"));
        return false;
    }
    if (!set.usable())
        throw RunError(kErrInvalidArgument, QStringLiteral("The image set is not loaded"));
    map = loadMapLevels(rutaMapa, QSize(set.AnchoImagen, set.AltoImagen), keepColours);
    if (map.width != set.AnchoImagen || map.height != set.AltoImagen) {
        reporter.EscribirEstado(QStringLiteral("Map dimensions mismatch"), true);
        reporter.EscribirEstado(QStringLiteral("DONE"), true);
        reporter.MostrarError(QStringLiteral("Map dimensions do not match image dimensions"));
        return false;
    }
    return true;
}

void reloadLeastExposed(ImageSet& set, Reporter& reporter) {
    const QString& path = set.TIFFMenosExpuesto;
    const FileStamp now = fileStamp(path);
    if (now.valid && !set.SellosTIFF.empty() && path == set.ArchivosTIFF[0] &&
        now == set.SellosTIFF[0])
        return;
    GflBitmap fresh;
    if (CargarGflBitmap(path, fresh, reporter)) return;
    if (fresh.width != set.AnchoImagen || fresh.height != set.AltoImagen) return;
    set.ImagenesTIFF[0] = std::move(fresh);
    if (!set.SellosTIFF.empty() && path == set.ArchivosTIFF[0]) set.SellosTIFF[0] = now;
}

void logShares(const ImageSet& set, const std::vector<double>& contribution, double total,
               double blended, Reporter& reporter) {
    auto perMille = [](double part, double whole) {
        return shortestDecimal(roundHalfEven(part / whole * 1000) / 10);
    };
    for (qsizetype i = 1; i <= set.ArchivosTIFF.size(); ++i)
        reporter.EscribirEstado(NombreArchivo(set.ArchivosTIFF[i - 1]) + QStringLiteral(": ") +
                                    perMille(contribution[static_cast<size_t>(i)], total) +
                                    QStringLiteral("%"),
                                true);
    reporter.EscribirEstado(shortestDecimal(roundHalfEven((1 - blended / total) * 1000) / 10) +
                                QStringLiteral("% genuine pixels"),
                            true);
}

namespace {

// The ETTR step: logs and, below full scale, scales every factor.
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
    factors = ettrFactors(set.ExpRelativas, m);
}

// Where the output stage takes bracket o's (1-based) rows from, scaled by the
// bracket's factor: 16-bit samples for the 16-bit TIFF, scene-linear values
// for every other format. (An interface rather than two std::functions: the
// 16-bit TIFF's save allocates no more than it always did.)
class OutputSource {
  public:
    virtual RgbRows samples(int o, double factor) = 0;
    virtual LinearRgbRows linear(int o, double factor) = 0;

  protected:
    ~OutputSource() = default;
};

// The output stage: one file, or one per bracket, beside the reference file.
// The files carry the developed frames' colour space (with the output gamma
// in the 16-bit TIFF), the shot's data and a line on how they were made.
void writeOutputFiles(const QString& rutaReferencia, const BlendSettings& settings, float g,
                      const ImageSet& set, Reporter& reporter, OutputSource& source) {
    const int count = settings.numBracketing;
    reporter.EscribirEstado(QStringLiteral("Building output file") +
                                (count > 1 ? QStringLiteral("s") : QString()) +
                                QStringLiteral("..."),
                            true);
    const OutputFormat format = settings.format;
    const QString base =
        outputBaseName(settings.blancoNegro, set.place, settings.perfil, g, format);
    const QString folder = outputFolder(set.place, rutaReferencia);
    // What other programs need to show the files right: the developed
    // frames' colour space with this gamma, and the shot's data.
    const ShotData shot = readShotData(set.TIFFMenosExpuesto);
    const QByteArray profile = formatUsesGamma(format)
                                   ? buildOutputProfile(shot.colours, settings.gamma / 10.0)
                                   : QByteArray();
    BlendSummary summary;
    summary.frames = static_cast<int>(set.ImagenesTIFF.size());
    summary.stepEv = measuredStepEv(set.ExpRelativas);
    // Files other than the 16-bit TIFF hold the blend at gamma 1.
    summary.gamma = formatUsesGamma(format) ? settings.gamma / 10.0 : 1.0;
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
        const QString name = base + bracketSuffix(o, count, settings.evBracketing) +
                             QLatin1String(formatInfo(format).extension);
        reporter.EscribirEstado(QStringLiteral("Saving image as ") + name, true);
        // A failed save is reported by the writer; the next bracket still comes.
        summary.bracketOffsetEv = d;
        if (format != OutputFormat::Tiff16) {
            writeHdrFile(format, source.linear(o, factor), folder + name, shot,
                         describeBlend(summary), settings.blancoNegro, o == 1, reporter);
            continue;
        }
        // The first file is shown in the window: a small copy is averaged as it is encoded.
        std::optional<ReducedRgb16> copy;
        const RgbRows rows = source.samples(o, factor);
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

// The selection blend's files: a single file is blended strip by strip as it
// is encoded; brackets share planes blended once.
void writeSelectionOutputs(const QString& rutaReferencia, const BlendSettings& settings, float g,
                           const RowBlender& blender, const ImageSet& set, Reporter& reporter) {
    class Selection final : public OutputSource {
      public:
        Selection(const RowBlender& blender, bool single) : blender_(blender), single_(single) {}
        RgbRows samples(int o, double factor) override {
            if (single_) return blendedRows(blender_, factor);
            if (o == 1) planes_ = blendPlanes(blender_);
            return quantizedRows(planes_, factor);
        }
        LinearRgbRows linear(int o, double factor) override {
            if (single_) return linearBlendedRows(blender_, factor);
            if (o == 1) planes_ = blendPlanes(blender_);
            return linearPlaneRows(planes_, factor);
        }

      private:
        const RowBlender& blender_;
        const bool single_;
        OutputPlanes planes_;
    } source(blender, settings.numBracketing <= 1);
    writeOutputFiles(rutaReferencia, settings, g, set, reporter, source);
}

// The weighted blend's part of "Colour" and "B&W", after its first log line:
// measures the model, blends, tells each image's share of the weight and the
// noise model, then writes the files. A single file of another format than
// the 16-bit TIFF is blended again as it is written rather than kept.
void writeWeightedOutputs(const QString& rutaReferencia, const BlendSettings& settings,
                          const BlendInput& input, const ImageSet& set, Reporter& reporter) {
    const WeightedModel model = measureWeightedModel(set);
    const WeightedBlender blender(input, model, set.motionOf(settings.rutaMapa));
    const WeightedKeep keep = settings.numBracketing > 1                ? WeightedKeep::Planes
                              : settings.format == OutputFormat::Tiff16 ? WeightedKeep::Samples
                                                                        : WeightedKeep::SharesOnly;
    const WeightedResult result = blendWeighted(blender, keep);
    const double pixels = static_cast<double>(blender.width()) * blender.height();
    for (qsizetype i = 0; i < set.ArchivosTIFF.size(); ++i)
        reporter.EscribirEstado(
            NombreArchivo(set.ArchivosTIFF[i]) + QStringLiteral(": ") +
                shortestDecimal(
                    roundHalfEven(result.shares[static_cast<size_t>(i)] / pixels * 1000) / 10) +
                QStringLiteral("%"),
            true);
    reporter.EscribirEstado(describeNoiseModel(model), true);
    reporter.EscribirEstado(QString(), true);
    class Weighted final : public OutputSource {
      public:
        Weighted(const WeightedResult& result, const WeightedBlender& blender, bool planes)
            : result_(result), blender_(blender), planes_(planes) {}
        RgbRows samples(int, double factor) override { return result_.rows(factor); }
        LinearRgbRows linear(int, double factor) override {
            return planes_ ? linearPlaneRows(result_.planes, factor) : linearWeightedRows(blender_);
        }

      private:
        const WeightedResult& result_;
        const WeightedBlender& blender_;
        const bool planes_;
    } source(result, blender, keep == WeightedKeep::Planes);
    writeOutputFiles(rutaReferencia, settings, input.g, set, reporter, source);
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

        const std::array<MapPosition, 256> levels = decodeLevels(set.TablaMapa);
        MapClasses classes = classifyMap(map, levels);
        map.colours = QImage();
        const LevelShares shares = sharesOfLevels(classes.pixelsPerLevel, levels, n);

        reporter.EscribirEstado(QStringLiteral("Image contribution..."), true);
        logShares(set, shares.contribution, static_cast<double>(w) * h,
                  static_cast<double>(shares.blended), reporter);

        if (shares.blended > 0) {
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
        // Only the 16-bit TIFF is gamma-encoded; every other format takes
        // the blend's linear values.
        const float g = formatUsesGamma(settings.format) ? inverseGamma(settings.gamma) : 1.0f;
        const MixWeights weights = mixWeights(settings.pesoRojo, settings.pesoAzul);
        BlendInput input{set, map.red, factors, g, settings.blancoNegro, weights};
        setInputLevels(input, levels, classes.pixelsPerLevel);
        // What shapes the output, for a viewer to show the frames as it sees them.
        set.lastBlend = BlendRecord{.factors = factors,
                                    .g = g,
                                    .blancoNegro = settings.blancoNegro,
                                    .weights = weights,
                                    .merge = settings.merge,
                                    .rutaMapa = settings.rutaMapa,
                                    .tablaMapa = set.TablaMapa,
                                    .imagenes = {}};
        for (const QString& path : set.ArchivosTIFF) set.lastBlend.imagenes << NombreArchivo(path);
        set.lastBlend.format = settings.format;
        if (weighted) {
            writeWeightedOutputs(rutaReferencia, settings, input, set, reporter);
            return 1;
        }
        reporter.EscribirEstado(QString(), true);
        const RowBlender blender(input);
        writeSelectionOutputs(rutaReferencia, settings, g, blender, set, reporter);
        return 1;
    } catch (...) {
        reporter.InformarError(QStringLiteral("FusionarImagenes"));
        return -1;
    }
}
