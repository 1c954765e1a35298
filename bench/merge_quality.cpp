// The merges' quality against a noise-free truth (see merge_quality.h).
#include "bench/merge_quality.h"

#include "pipeline/blend_stage.h"
#include "pipeline/calc_ev.h"
#include "pipeline/map_stage.h"
#include "pipeline/set_settings.h"
#include "set/noise_model.h"
#include "support/numbers.h"
#include "support/recording_reporter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace {

constexpr int kFrames = 3;
constexpr double kFull = 65535;
// The truth is known where the twin's least exposed frame is below this.
constexpr double kTruthClip = 65000;
// Pixels whose 5 x 5 neighbourhood of truth varies by more than 15 % are
// left out: at edges the error is the demosaicing's, which differs between a
// noisy frame and its twin whatever the merge.
constexpr double kSmooth = 1.15;
constexpr long long kMinBandPixels = 200;
// Seams are looked for on 9 x 9 windows inside smooth 17 x 17 surroundings,
// bright enough (1/256 of full scale) that noise does not pass for a seam.
constexpr int kWindow = 9;
constexpr int kMargin = 4;
constexpr double kSeamFloor = kFull / 256;

const QString kHdrMerge = QStringLiteral("/usr/bin/hdrmerge");

[[noreturn]] void fail(const QString& what) {
    throw std::runtime_error(what.toStdString());
}

void run(const QString& program, const QStringList& args) {
    QProcess p;
    // A peer with a window of its own is run without a display.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        fail(program + QStringLiteral(" failed: ") +
             QString::fromLocal8Bit(p.readAllStandardError()));
}

// The generator's five-frame bracket centred on its reference exposure, of
// which the three darkest are kept: 0/+2/+4 EV with the sky unclipped in the
// first and the doorway's shadow reaching the last.
QStringList makeBracket(const QualityRun& r, const QString& folder, bool noise) {
    QDir().mkpath(folder);
    QStringList args{
        QStringLiteral("--count"),  QStringLiteral("5"),       QStringLiteral("--step"),
        QStringLiteral("2"),        QStringLiteral("--width"), QString::number(r.width),
        QStringLiteral("--height"), QString::number(r.height), QStringLiteral("--seed"),
        QString::number(r.seed),    QStringLiteral("--out"),   folder};
    if (!noise) args << QStringLiteral("--no-noise");
    if (r.warm) args << QStringLiteral("--warm");
    run(QStringLiteral(ORRINDALE_MAKE_BRACKET), args);
    QStringList names;
    for (int k = 1; k <= 5; ++k) {
        const QString name = QStringLiteral("IMG_%1.dng").arg(k, 4, 10, QLatin1Char('0'));
        if (k <= kFrames)
            names << name;
        else
            QFile::remove(folder + name);
    }
    return names;
}

// As the window starts (Daylight, AHD, sRGB), with headroom when asked.
DevelopSettings development(bool headroom) {
    DevelopSettings s = defaultSettings().develop;
    s.headroom = headroom;
    return s;
}

// Every file developed as "Develop" does, all at once.
void develop(const QStringList& paths, bool headroom) {
    const QStringList args =
        dcrawArguments(ConstruirComandoDCRAW(development(headroom), false, false));
    std::vector<std::unique_ptr<QProcess>> running;
    for (const QString& path : paths) {
        running.push_back(std::make_unique<QProcess>());
        running.back()->start(RutaDCRAW, QStringList(args) << path);
    }
    for (auto& p : running)
        if (!p->waitForFinished(-1) || p->exitCode() != 0) fail(QStringLiteral("dcraw failed"));
}

GflBitmap load(const QString& path) {
    GflBitmap image;
    RecordingReporter rep;
    if (CargarGflBitmap(path, image, rep)) fail(QStringLiteral("cannot read ") + path);
    return image;
}

// One blend at gamma 1.0 through the procedure the buttons call; its file is
// read back and removed, so two blends in one second do not collide.
GflBitmap blend(const QString& ref, const QString& map, BlendMerge merge, ImageSet& set,
                QString* noiseLine, double& seconds) {
    BlendSettings s;
    s.merge = merge;
    s.gamma = 10;
    s.perfil = QStringLiteral("sRGB");
    s.rutaMapa = map;
    RecordingReporter rep;
    QElapsedTimer clock;
    clock.start();
    if (FusionarImagenes(ref, s, set, rep) != 1) fail(QStringLiteral("blend failed: ") + rep.log);
    seconds = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
    if (noiseLine)
        for (const QString& line : rep.logLines())
            if (line.startsWith(QStringLiteral("Noise model"))) *noiseLine = line;
    const QString folder = QFileInfo(ref).absolutePath() + QLatin1Char('/');
    const QStringList outputs = QDir(folder).entryList({QStringLiteral("OD_*.tif")}, QDir::Files);
    if (outputs.size() != 1) fail(QStringLiteral("expected one output"));
    GflBitmap out = load(folder + outputs[0]);
    QFile::remove(folder + outputs[0]);
    return out;
}

double luminance(const double* rgb) {
    return 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
}

// Per pixel: is the truth's luminance within kSmooth over the square of
// radius r around it (cut at the borders)?
std::vector<uint8_t> smoothMask(const std::vector<double>& y, int w, int h, int r) {
    std::vector<double> lo(y.size()), hi(y.size());
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            double a = y[static_cast<size_t>(row) * w + x], b = a;
            for (int dx = std::max(0, x - r); dx <= std::min(w - 1, x + r); ++dx) {
                a = std::min(a, y[static_cast<size_t>(row) * w + dx]);
                b = std::max(b, y[static_cast<size_t>(row) * w + dx]);
            }
            lo[static_cast<size_t>(row) * w + x] = a;
            hi[static_cast<size_t>(row) * w + x] = b;
        }
    std::vector<uint8_t> mask(y.size());
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            double a = lo[static_cast<size_t>(row) * w + x],
                   b = hi[static_cast<size_t>(row) * w + x];
            for (int dy = std::max(0, row - r); dy <= std::min(h - 1, row + r); ++dy) {
                a = std::min(a, lo[static_cast<size_t>(dy) * w + x]);
                b = std::max(b, hi[static_cast<size_t>(dy) * w + x]);
            }
            mask[static_cast<size_t>(row) * w + x] = b <= a * kSmooth;
        }
    return mask;
}

double snr(double sum, double squaredError, long long samples) {
    return 20 * std::log10((sum / static_cast<double>(samples)) /
                           std::sqrt(squaredError / static_cast<double>(samples)));
}

// The truth: each pixel from the most exposed twin frame well inside its
// range, brought to the first frame's exposure by the exact ratio; known where
// the least exposed twin is unclipped.
struct Truth {
    int width = 0, height = 0;
    double scale = 1;         // brings the developed frames to the stops of no headroom
    std::vector<double> rgb;  // 3 per pixel
    std::vector<double> y;    // luminance
    std::vector<uint8_t> known;
};

// Without headroom every channel of a twin frame is trusted up to 90 % of full
// scale; with it, up to 90 % of where the twin frames show the channel clips.
Truth buildTruth(const std::vector<GflBitmap>& twin, const std::array<int, 3>& clip,
                 double scale) {
    Truth t;
    t.width = twin[0].width;
    t.height = twin[0].height;
    t.scale = scale;
    const size_t pixels = static_cast<size_t>(t.width) * t.height;
    t.rgb.resize(pixels * 3);
    t.y.resize(pixels);
    t.known.resize(pixels);
    auto within = [&](int j, size_t i) {
        const uint16_t* p = &twin[static_cast<size_t>(j)].pixels[i * 3];
        return p[0] <= 0.9 * clip[0] && p[1] <= 0.9 * clip[1] && p[2] <= 0.9 * clip[2];
    };
    auto known = [&](size_t i) {
        const uint16_t* p = &twin[0].pixels[i * 3];
        const double share = kTruthClip / kFull;
        return p[0] < share * clip[0] && p[1] < share * clip[1] && p[2] < share * clip[2];
    };
    for (size_t i = 0; i < pixels; ++i) {
        int j = kFrames - 1;
        while (j > 0 && !within(j, i)) --j;
        for (size_t c = 0; c < 3; ++c)
            t.rgb[i * 3 + c] =
                twin[static_cast<size_t>(j)].pixels[i * 3 + c] * std::exp2(-2 * j) * scale;
        t.y[i] = luminance(&t.rgb[i * 3]);
        t.known[i] = known(i);
    }
    return t;
}

// Signal to noise per stop of the truth's luminance, over smooth pixels, of
// the two merges and of the first frame alone.
std::vector<QualityBand> bandFigures(const Truth& t, const GflBitmap& select,
                                     const GflBitmap& weighted, const GflBitmap& first) {
    const std::vector<uint8_t> smooth = smoothMask(t.y, t.width, t.height, 2);
    struct Sums {
        long long pixels = 0;
        double truth = 0;
        std::array<double, 3> error{};  // select, weighted, first frame
    };
    std::vector<Sums> sums(24);
    for (size_t i = 0; i < t.y.size(); ++i) {
        if (!t.known[i] || !smooth[i] || !(t.y[i] > 0)) continue;
        const int band = static_cast<int>(std::floor(std::log2(kFull / t.y[i])));
        if (band < 0 || band >= static_cast<int>(sums.size())) continue;
        Sums& s = sums[static_cast<size_t>(band)];
        ++s.pixels;
        for (size_t c = 0; c < 3; ++c) {
            const double truth = t.rgb[i * 3 + c];
            s.truth += truth;
            const double e[3] = {select.pixels[i * 3 + c] * t.scale - truth,
                                 weighted.pixels[i * 3 + c] * t.scale - truth,
                                 first.pixels[i * 3 + c] * t.scale - truth};
            for (size_t m = 0; m < 3; ++m) s.error[m] += e[m] * e[m];
        }
    }
    std::vector<QualityBand> bands;
    for (size_t b = 0; b < sums.size(); ++b) {
        const Sums& s = sums[b];
        if (s.pixels < kMinBandPixels) continue;
        QualityBand band;
        band.index = static_cast<int>(b);
        band.pixels = s.pixels;
        // A frame is usable in a stop when part of the stop is under the map
        // threshold in it; the least exposed one always is.
        const double low = kFull * std::exp2(-static_cast<double>(b) - 1);
        band.usableFrames = 1;
        for (int k = 1; k < kFrames; ++k)
            band.usableFrames += low * std::exp2(2 * k) <= 0.9 * kFull;
        band.select = snr(s.truth, s.error[0], s.pixels * 3);
        band.weighted = snr(s.truth, s.error[1], s.pixels * 3);
        band.firstFrame = snr(s.truth, s.error[2], s.pixels * 3);
        bands.push_back(band);
    }
    return bands;
}

// The largest mean error of `out` over a window, in percent of its level.
double largestSeam(const Truth& t, const GflBitmap& out) {
    const int w = t.width, h = t.height;
    const std::vector<uint8_t> calm = smoothMask(t.y, w, h, kWindow / 2 + kMargin);
    double largest = 0;
    for (int y0 = kMargin; y0 + kWindow + kMargin <= h; y0 += kWindow)
        for (int x0 = kMargin; x0 + kWindow + kMargin <= w; x0 += kWindow) {
            if (!calm[static_cast<size_t>(y0 + kWindow / 2) * w + x0 + kWindow / 2]) continue;
            bool known = true;
            for (int dy = -kMargin; dy < kWindow + kMargin; ++dy)
                for (int dx = -kMargin; dx < kWindow + kMargin; ++dx)
                    known = known && t.known[static_cast<size_t>(y0 + dy) * w + x0 + dx];
            if (!known) continue;
            double level = 0, error = 0;
            for (int dy = 0; dy < kWindow; ++dy)
                for (int dx = 0; dx < kWindow; ++dx)
                    for (size_t c = 0; c < 3; ++c) {
                        const size_t i = (static_cast<size_t>(y0 + dy) * w + x0 + dx) * 3 + c;
                        level += t.rgb[i];
                        error += out.pixels[i] * t.scale - t.rgb[i];
                    }
            if (level >= kSeamFloor * kWindow * kWindow * 3)
                largest = std::max(largest, 100 * std::fabs(error) / level);
        }
    return largest;
}

}  // namespace

MergeQuality measureMergeQuality(const QualityRun& r, const QString& folder) {
    const QString noisy = folder + QStringLiteral("/bracket/"),
                  twin = folder + QStringLiteral("/twin/");
    const QStringList names = makeBracket(r, noisy, true);
    makeBracket(r, twin, false);
    QStringList all;
    for (const QString& n : names) all << noisy + n << twin + n;
    develop(all, r.headroom);

    // The bracket through the whole chain with the window's defaults.
    const QString ref = noisy + names[0];
    RecordingReporter rep;
    ImageSet set;
    if (calcularEV(ref, names, false, set, rep) != 1)
        fail(QStringLiteral("Calc EV failed: ") + rep.log);
    SetSettings settings = defaultSettings();
    settings.develop = development(r.headroom);
    deriveSettings(settings);
    const QString mapPath = GenerarMapa(ref, settings.map, set, rep);
    if (mapPath.isEmpty()) fail(QStringLiteral("Build map failed: ") + rep.log);
    MergeQuality q;
    const GflBitmap select = blend(ref, mapPath, BlendMerge::Select, set, nullptr, q.selectSeconds);
    const GflBitmap weighted =
        blend(ref, mapPath, BlendMerge::Weighted, set, &q.noiseModel, q.weightedSeconds);
    // The peer that merges the RAW files themselves, timed on the same frames.
    // (Its floating-point DNG is beyond the decoders at hand, so it is not
    // measured against the truth.)
    if (r.timePeers && QFile::exists(kHdrMerge)) {
        QStringList args{QStringLiteral("--no-align"), QStringLiteral("--no-crop"),
                         QStringLiteral("-o"), folder + QStringLiteral("/hdrmerge.dng")};
        for (const QString& n : names) args << noisy + n;
        QElapsedTimer clock;
        clock.start();
        run(kHdrMerge, args);
        q.hdrmergeSeconds = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
    }

    FrameSet twinSet;
    for (const QString& n : names) {
        twinSet.ArchivosTIFF << twin + QFileInfo(n).completeBaseName() + QStringLiteral(".tiff");
        twinSet.ImagenesTIFF.push_back(load(twinSet.ArchivosTIFF.back()));
    }
    twinSet.AnchoImagen = twinSet.ImagenesTIFF[0].width;
    twinSet.AltoImagen = twinSet.ImagenesTIFF[0].height;
    twinSet.TIFFsCargados = true;
    const std::array<int, 3> clip = r.headroom ? setClipLevels(twinSet)
                                               : std::array<int, 3>{65535, 65535, 65535};
    // Headroom scales every channel by the largest multiplier instead of its own.
    double scale = 1;
    if (r.headroom)
        for (const QString& m : settings.develop.txtWB)
            scale = std::max(scale, parseUserNumber(m).value_or(1));
    const Truth truth = buildTruth(twinSet.ImagenesTIFF, clip, scale);
    q.bands = bandFigures(truth, select, weighted, load(set.ArchivosTIFF[0]));
    for (int k = 1; k < kFrames; ++k) q.topStops.push_back(2 * k);
    q.seamSelect = largestSeam(truth, select);
    q.seamWeighted = largestSeam(truth, weighted);
    return q;
}

QString qualityTable(const MergeQuality& q) {
    QString t = QStringLiteral(
        "stop  luminance (of 65535)    pixels  frames   Select  Weighted   frame 1    gain\n");
    double gainSum = 0;
    int gainBands = 0;
    for (const QualityBand& b : q.bands) {
        const double hi = kFull * std::exp2(-b.index), lo = hi / 2;
        t += QStringLiteral("%1  %2-%3  %4  %5  %6  %7  %8  %9\n")
                 .arg(b.index, 4)
                 .arg(lo, 11, 'f', 0)
                 .arg(hi, -8, 'f', 0)
                 .arg(b.pixels, 8)
                 .arg(b.usableFrames, 6)
                 .arg(b.select, 7, 'f', 2)
                 .arg(b.weighted, 8, 'f', 2)
                 .arg(b.firstFrame, 8, 'f', 2)
                 .arg(QStringLiteral("%1%2")
                          .arg(b.weighted >= b.select ? "+" : "")
                          .arg(b.weighted - b.select, 0, 'f', 2),
                      6);
        if (b.usableFrames >= 2) {
            gainSum += b.weighted - b.select;
            ++gainBands;
        }
    }
    if (gainBands > 0)
        t += QStringLiteral("mean gain where two or more frames are usable: %1 dB over %2 stops\n")
                 .arg(gainSum / gainBands, 0, 'f', 2)
                 .arg(gainBands);
    for (size_t k = 0; k < q.topStops.size(); ++k)
        for (const QualityBand& b : q.bands)
            if (b.index == q.topStops[k])
                t += QStringLiteral("top stop of frame %1 (stop %2): %3 dB\n")
                         .arg(k + 2)
                         .arg(b.index)
                         .arg(b.weighted - b.select, 0, 'f', 2);
    t += QStringLiteral("blend, one file at gamma 1.0: Select %1 s, Weighted %2 s")
             .arg(q.selectSeconds, 0, 'f', 2)
             .arg(q.weightedSeconds, 0, 'f', 2);
    if (q.hdrmergeSeconds >= 0)
        t += QStringLiteral("; HDRMerge from the RAW files %1 s").arg(q.hdrmergeSeconds, 0, 'f', 2);
    t += QLatin1Char('\n');
    t += QStringLiteral("largest seam: Select %1 %, Weighted %2 %\n")
             .arg(q.seamSelect, 0, 'f', 2)
             .arg(q.seamWeighted, 0, 'f', 2);
    t += q.noiseModel + QLatin1Char('\n');
    return t;
}
