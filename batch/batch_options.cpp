// Command-line options of the batch program, checked in full before any work.
#include "batch/batch_options.h"

#include "develop/raw_set.h"
#include "orrindale_version.h"
#include "pipeline/output_formats.h"
#include "support/numbers.h"
#include "support/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cmath>

namespace {

class Parser {
  public:
    explicit Parser(const QStringList& args) : args_(args) {}

    bool atEnd() const { return i_ >= args_.size(); }
    qsizetype position() const { return i_; }
    QString next() { return args_[i_++]; }
    // The value after an option; empty optional (with the error set) when missing.
    std::optional<QString> value(const QString& option) {
        if (atEnd()) {
            fail(option + QStringLiteral(" needs a value"));
            return std::nullopt;
        }
        return next();
    }
    std::optional<int> integer(const QString& option, int lo, int hi) {
        const auto text = value(option);
        if (!text) return std::nullopt;
        bool ok = false;
        const int v = text->toInt(&ok);
        if (!ok || v < lo || v > hi) {
            fail(option + QStringLiteral(" takes a whole number from %1 to %2, not '%3'")
                              .arg(lo)
                              .arg(hi)
                              .arg(*text));
            return std::nullopt;
        }
        return v;
    }
    // One of `items`, letter case ignored; returns its index.
    std::optional<int> item(const QString& option, const QString& text, const QStringList& items) {
        for (qsizetype k = 0; k < items.size(); ++k)
            if (items[k].compare(text, Qt::CaseInsensitive) == 0) return static_cast<int>(k);
        fail(option + QStringLiteral(" takes one of: ") + items.join(QStringLiteral(", ")) +
             QStringLiteral("; not '") + text + QStringLiteral("'"));
        return std::nullopt;
    }
    void fail(const QString& message) {
        if (error_.isEmpty()) error_ = message;
    }
    const QString& error() const { return error_; }

  private:
    const QStringList& args_;
    qsizetype i_ = 0;
    QString error_;
};

// --decoder's values, in the order of DecoderSetting.
QStringList decoderNames() {
    return {QStringLiteral("auto"), QStringLiteral("dcraw"), QStringLiteral("libraw")};
}

std::optional<double> number(const QString& text) { return parseUserNumber(text, QLocale::c()); }

bool parseWhiteBalance(Parser& p, const QString& text, BatchOptions& o) {
    if (text.compare(QStringLiteral("camera"), Qt::CaseInsensitive) == 0) {
        o.develop.modoWB = kWBCamara;
        return true;
    }
    if (text.startsWith(QStringLiteral("preset:"), Qt::CaseInsensitive)) {
        const auto index = p.item(QStringLiteral("--wb preset:"), text.mid(7), itemsWB());
        if (!index) return false;
        o.develop.modoWB = kWBPreset;
        presetWB(*index, o.develop.txtWB);
        return true;
    }
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3) {
        p.fail(QStringLiteral("--wb takes camera, preset:NAME or R,G,B; not '") + text +
               QStringLiteral("'"));
        return false;
    }
    for (int c = 0; c < 3; ++c) {
        const auto m = number(parts[c]);
        if (!m || *m <= 0) {
            p.fail(QStringLiteral("--wb multipliers must be positive numbers; not '") + parts[c] +
                   QStringLiteral("'"));
            return false;
        }
        // As the window keeps a multiplier typed into its box.
        o.develop.txtWB[static_cast<size_t>(c)] = shortestDecimal(*m, QLocale::c());
    }
    o.develop.modoWB = kWBCoefs;
    return true;
}

// One reference per line; blank lines and "#" comments skipped. "-" is
// standard input.
void readSetList(Parser& p, const QString& file, QStringList& references) {
    QFile in;
    const bool opened = file == QStringLiteral("-") ? in.open(stdin, QIODevice::ReadOnly)
                                                    : (in.setFileName(file), in.open(QIODevice::ReadOnly));
    if (!opened) {
        p.fail(QStringLiteral("--sets-from: cannot read '") + file + QStringLiteral("'"));
        return;
    }
    while (!in.atEnd()) {
        QString line = QString::fromLocal8Bit(in.readLine());
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#'))) continue;
        references << QFileInfo(line).absoluteFilePath();
    }
}

// The folder, made when missing; a usage error unless a file can be made in it.
QString checkedOutFolder(Parser& p, const QString& folder) {
    const QString path = QFileInfo(folder).absoluteFilePath();
    QTemporaryFile probe(path + QStringLiteral("/.orrindale-XXXXXX"));
    if (!QDir().mkpath(path) || !probe.open())
        p.fail(QStringLiteral("--out: cannot write to '") + folder + QStringLiteral("'"));
    return path;
}

QString checkedReportFile(Parser& p, const QString& file) {
    const QString path = QFileInfo(file).absoluteFilePath();
    QFile f(path);
    if (!f.open(QIODevice::Append)) p.fail(QStringLiteral("--report: cannot write to '") + file + QStringLiteral("'"));
    return path;
}

// --deghost-ref K against each set given: its RAW files are its images.
void checkDeghostReference(Parser& p, const BatchOptions& o) {
    for (const QString& reference : o.references) {
        const qsizetype images = std::min<qsizetype>(
            listRawFolder(CarpetaArchivo(reference), ExtensionArchivo(reference)).size(),
            kMaxArchivosRAW);
        if (o.map.deghostRef > images) {
            p.fail(QStringLiteral("--deghost-ref %1: the set of %2 has %3 image%4")
                       .arg(o.map.deghostRef)
                       .arg(NombreArchivo(reference))
                       .arg(images)
                       .arg(images == 1 ? QString() : QStringLiteral("s")));
            return;
        }
    }
}

}  // namespace

ParsedOptions parseBatchOptions(const QStringList& arguments) {
    BatchOptions o;
    static_cast<SetSettings&>(o) = defaultSettings();

    Parser p(arguments);
    QStringList listed;  // references read from --sets-from
    while (!p.atEnd() && p.error().isEmpty()) {
        const qsizetype start = p.position();
        const QString arg = p.next();
        bool forSet = true;  // passed on to a child running one set
        if (arg == QStringLiteral("--help") || arg == QStringLiteral("-h")) {
            o.help = true;
        } else if (arg == QStringLiteral("--version")) {
            o.version = true;
        } else if (arg == QStringLiteral("--wb")) {
            if (const auto v = p.value(arg)) parseWhiteBalance(p, *v, o);
        } else if (arg == QStringLiteral("--saturation")) {
            if (const auto v = p.integer(arg, 0, 65535)) o.develop.txtSat = QString::number(*v);
        } else if (arg == QStringLiteral("--quality")) {
            if (const auto v = p.value(arg))
                if (const auto k = p.item(arg, *v, itemsCalidad())) o.develop.calidad = *k;
        } else if (arg == QStringLiteral("--profile")) {
            if (const auto v = p.value(arg))
                if (const auto k = p.item(arg, *v, itemsPerfil())) o.develop.perfil = *k;
        } else if (arg == QStringLiteral("--hl")) {
            o.hlRecovery = true;
        } else if (arg == QStringLiteral("--headroom")) {
            o.develop.headroom = true;
        } else if (arg == QStringLiteral("--dcraw-options")) {
            if (const auto v = p.value(arg)) o.develop.txtDCRAW = comprimirOpciones(*v);
        } else if (arg == QStringLiteral("--decoder")) {
            if (const auto v = p.value(arg)) {
                const qsizetype k = decoderNames().indexOf(v->toLower());
                if (k < 0)
                    p.fail(QStringLiteral("--decoder takes auto, dcraw or libraw; not '") + *v +
                           QStringLiteral("'"));
                else
                    o.decoder = static_cast<DecoderSetting>(k);
            }
        } else if (arg == QStringLiteral("--no-develop")) {
            o.noDevelop = true;
        } else if (arg == QStringLiteral("--method")) {
            if (const auto v = p.value(arg)) {
                if (v->compare(QStringLiteral("median"), Qt::CaseInsensitive) == 0)
                    o.metodoMedia = false;
                else if (v->compare(QStringLiteral("average"), Qt::CaseInsensitive) == 0)
                    o.metodoMedia = true;
                else
                    p.fail(QStringLiteral("--method takes median or average; not '") + *v +
                           QStringLiteral("'"));
            }
        } else if (arg == QStringLiteral("--align")) {
            o.align.alinear = true;
        } else if (arg == QStringLiteral("--threshold")) {
            if (const auto v = p.integer(arg, 0, 99)) o.map.umbral = *v;
        } else if (arg == QStringLiteral("--anti-ghost")) {
            if (const auto v = p.integer(arg, 0, 50)) o.map.antiGhost = *v;
        } else if (arg == QStringLiteral("--progressive")) {
            if (const auto v = p.integer(arg, 0, 50)) o.map.progressive = *v;
        } else if (arg == QStringLiteral("--deghost")) {
            o.map.deghost = true;
        } else if (arg == QStringLiteral("--deghost-ref")) {
            // A set holds at most ten images; each given set is checked
            // below, a listed one when its map is built.
            if (const auto v = p.integer(arg, 1, kMaxArchivosRAW)) {
                o.map.deghost = true;
                o.map.deghostRef = *v;
            }
        } else if (arg == QStringLiteral("--map")) {
            if (const auto v = p.value(arg)) {
                if (!ExisteArchivo(*v))
                    p.fail(QStringLiteral("--map: no such file '") + *v + QStringLiteral("'"));
                o.mapFile = QFileInfo(*v).absoluteFilePath();
            }
        } else if (arg == QStringLiteral("--bw")) {
            const auto red = p.integer(arg, 0, 100);
            const auto blue = red ? p.integer(arg, 0, 100) : std::nullopt;
            if (red && blue) {
                // The window's two bars never add up to more than 100 %.
                if (*red + *blue > 100)
                    p.fail(QStringLiteral("--bw: red and blue may not add up to more than 100"));
                o.blend.blancoNegro = true;
                o.blend.pesoRojo = *red;
                o.blend.pesoAzul = *blue;
            }
        } else if (arg == QStringLiteral("--gamma")) {
            if (const auto v = p.value(arg)) {
                const auto g = number(*v);
                const double tenths = g ? *g * 10 : 0;
                if (!g || std::fabs(tenths - std::round(tenths)) > 1e-9 || tenths < 10 - 1e-9 ||
                    tenths > 30 + 1e-9) {
                    p.fail(QStringLiteral("--gamma takes 1.0 to 3.0 in tenths; not '") + *v +
                           QStringLiteral("'"));
                } else {
                    o.blend.gamma = static_cast<int>(std::lround(tenths));
                    o.gammaChosen = true;
                }
            }
        } else if (arg == QStringLiteral("--merge")) {
            if (const auto v = p.value(arg)) {
                if (v->compare(QStringLiteral("select"), Qt::CaseInsensitive) == 0)
                    o.blend.merge = BlendMerge::Select;
                else if (v->compare(QStringLiteral("weighted"), Qt::CaseInsensitive) == 0)
                    o.blend.merge = BlendMerge::Weighted;
                else
                    p.fail(QStringLiteral("--merge takes select or weighted; not '") + *v +
                           QStringLiteral("'"));
            }
        } else if (arg == QStringLiteral("--format")) {
            if (const auto v = p.value(arg)) {
                if (const auto f = formatFromKey(*v))
                    o.blend.format = *f;
                else
                    p.fail(QStringLiteral("--format takes ") + formatKeys().join(QStringLiteral(", ")) +
                           QStringLiteral("; not '") + *v + QStringLiteral("'"));
            }
        } else if (arg == QStringLiteral("--ettr")) {
            o.blend.ettr = true;
        } else if (arg == QStringLiteral("--brackets")) {
            if (const auto v = p.integer(arg, 1, 7)) o.blend.numBracketing = *v;
        } else if (arg == QStringLiteral("--step")) {
            if (const auto v = p.integer(arg, 1, 4)) o.blend.evBracketing = *v;
        } else if (arg == QStringLiteral("--no-blend")) {
            o.noBlend = true;
        } else if (arg == QStringLiteral("--contact-sheet")) {
            o.contactSheet = true;
        } else if (arg == QStringLiteral("--sets-from")) {
            forSet = false;
            if (const auto v = p.value(arg)) readSetList(p, *v, listed);
        } else if (arg == QStringLiteral("--out")) {
            if (const auto v = p.value(arg)) o.outDir = checkedOutFolder(p, *v);
        } else if (arg == QStringLiteral("--stable-names")) {
            o.stableNames = true;
        } else if (arg == QStringLiteral("--skip-done")) {
            o.skipDone = true;
        } else if (arg == QStringLiteral("--jobs")) {
            forSet = false;
            if (const auto v = p.integer(arg, 1, 256)) o.jobs = *v;
        } else if (arg == QStringLiteral("--threads")) {
            forSet = false;
            if (const auto v = p.integer(arg, 0, 1024)) o.threads = *v;
        } else if (arg == QStringLiteral("--report")) {
            if (const auto v = p.value(arg)) o.reportFile = checkedReportFile(p, *v);
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            p.fail(QStringLiteral("unknown option ") + arg);
        } else {
            forSet = false;
            o.references << QFileInfo(arg).absoluteFilePath();
            if (!ExisteArchivo(arg)) p.fail(QStringLiteral("no such RAW file '") + arg + QStringLiteral("'"));
        }
        if (forSet) o.setArguments << arguments.mid(start, p.position() - start);
    }
    // As the window's gamma bar is disabled for them.
    if (o.gammaChosen && !formatUsesGamma(o.blend.format))
        p.fail(QStringLiteral("--gamma applies to --format tiff only: the other formats are "
                              "linear or PQ"));
    if (p.error().isEmpty() && o.map.deghostRef > 0) checkDeghostReference(p, o);
    // A list's missing file is that set's failure, told when its turn comes.
    o.references << listed;
    if (p.error().isEmpty() && !o.help && !o.version && o.references.isEmpty())
        p.fail(QStringLiteral("no RAW file given"));
    if (!p.error().isEmpty()) return {std::nullopt, p.error()};

    deriveSettings(o);
    return {o, QString()};
}

QString batchUsage() {
    // The defaults shown are those every set starts from.
    const SetSettings d = defaultSettings();
    return QStringLiteral(
        "Usage: orrindale-batch [options] REFERENCE...\n"
        "\n"
        "Develops, measures, maps and blends the bracket of each REFERENCE RAW file:\n"
        "every file of its folder with the same extension (at most ten). Files are\n"
        "written beside the RAW files, named as the window names them, unless\n"
        "--out and --stable-names say otherwise.\n"
        "\n"
        "Development:\n"
        "  --wb camera|preset:NAME|R,G,B  white balance (default preset:%1)\n"
        "  --saturation N          saturation level (default: dcraw's)\n"
        "  --quality NAME          Bilinear, VNG, PPG or AHD (default %2)\n"
        "  --profile NAME          None, sRGB, \"Adobe RGB\", \"Wide Gamut\", \"ProPhoto RGB\",\n"
        "                          \"CIE XYZ\" (default %3)\n"
        "  --hl                    highlight recovery on the least exposed file\n"
        "  --headroom              develop every channel up to where the sensor clips\n"
        "                          (dcraw -H 1); the output is darker by the largest\n"
        "                          white-balance multiplier\n"
        "  --dcraw-options TEXT    extra dcraw options\n"
        "  --decoder auto|dcraw|libraw  RAW decoder: auto uses dcraw unless it cannot\n"
        "                          read a file of the set, then LibRaw (default %4)\n"
        "  --no-develop            use the TIFF files already beside the RAW files\n"
        "Exposure and map:\n"
        "  --method median|average relative exposures (default %5)\n"
        "  --align                 align handheld frames (shift and rotation) to the\n"
        "                          least exposed one before measuring\n"
        "  --threshold 0..99       map threshold in percent (default %6)\n"
        "  --anti-ghost 0..50      anti-ghosting radius in pixels (default %7)\n"
        "  --progressive 0..50     progressive blending radius in pixels (default %8)\n"
        "  --deghost               show each moving subject once, whole, from one image\n"
        "  --deghost-ref K         ... from image K (1 = least exposed) for every moving\n"
        "                          area (default: each area's best exposed); implies\n"
        "                          --deghost; K beyond a given set's images is a usage\n"
        "                          error, beyond a listed set's that set's failure\n"
        "  --map FILE              blend through this map instead of building one\n"
        "Blend:\n"
        "  --bw RED BLUE           B&W output with these channel weights in percent\n"
        "  --gamma 1.0..3.0        output gamma in tenths, for --format tiff (default:\n"
        "                          the profile's)\n"
        "  --merge select|weighted each pixel from the map's choice, or every usable\n"
        "                          frame averaged by its noise (default %9)\n"
        "  --format NAME           tiff: 16-bit with the output gamma (default %12);\n"
        "                          tiff-float, exr (half), exr-float: scene-linear;\n"
        "                          avif-pq: HDR AVIF in BT.2100 PQ\n"
        "  --ettr                  expose the output to the right\n"
        "  --brackets 1..7         output files per blend (default %10)\n"
        "  --step 1..4             EV between them (default %11)\n"
        "  --no-blend              stop after the map\n"
        "  --contact-sheet         also write the B&W contact sheet\n"
        "Many sets:\n"
        "  --sets-from FILE        also the references listed in FILE, one a line\n"
        "                          (\"-\": standard input; \"#\" lines skipped)\n"
        "  --out DIR               each set's files in DIR/<reference without extension>/\n"
        "  --stable-names          names led by the reference, without the time of day\n"
        "  --skip-done             skip sets an earlier run with the same settings\n"
        "                          finished (its record <reference>.orrindale.json)\n"
        "  --jobs N                N sets at once (default 1), sharing the cores\n"
        "  --threads N             threads this run may use (default 0: all cores)\n"
        "  --report FILE           append one JSON line per set to FILE\n"
        "  --help, --version\n"
        "\n"
        "Exit status: 0 when every step of every set succeeded, 1 when a step failed,\n"
        "2 for a usage error, 130 / 143 when stopped by SIGINT / SIGTERM.\n")
        .arg(itemsWB().value(kDefaultPresetWB), itemsCalidad().value(d.develop.calidad),
             itemsPerfil().value(d.develop.perfil),
             decoderNames().value(static_cast<int>(d.decoder)),
             d.metodoMedia ? QStringLiteral("average") : QStringLiteral("median"),
             QString::number(d.map.umbral), QString::number(d.map.antiGhost),
             QString::number(d.map.progressive),
             d.blend.merge == BlendMerge::Weighted ? QStringLiteral("weighted")
                                                   : QStringLiteral("select"))
        .arg(d.blend.numBracketing)
        .arg(d.blend.evBracketing)
        .arg(QLatin1String(formatInfo(d.blend.format).key));
}
