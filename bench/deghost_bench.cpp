// Deghost on five 6000 x 4000 frames 2 EV apart with a subject of 600 x 600
// that moves 300 pixels a frame across the horizon, made by the sample
// generator and developed by dcraw as "Develop" does: the detection alone,
// then "Build map" and "Colour" with and without Deghost, stage by stage.
// Hugin's hugin_hdrmerge, whose "khan" mode removes ghosts, runs on the same
// frames when it is installed; its output and ours are compared with the
// noise-free scene with the subject standing where our reference shows it.
#include "bench/bench_timing.h"
#include "develop/dcraw_command.h"
#include "develop/dcraw_process.h"
#include "pipeline/blend_stage.h"
#include "pipeline/calc_ev.h"
#include "pipeline/map_stage.h"
#include "set/motion.h"
#include "support/parallel.h"
#include "support/tiff_io.h"

#include <tiffio.h>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <memory>

namespace {

constexpr int kFrames = 5;
const char* const kHuginMerge = "/usr/bin/hugin_hdrmerge";

// Frame 1's box at (2400, 1100), 300 pixels right and 150 down a frame; or,
// for `standing` 1..5, the box standing where that frame shows it.
QString mover(int standing = 0) {
    const int k = std::max(0, standing - 1);
    return QStringLiteral("%1,%2,600,600,%3,%4")
        .arg(2400 + 300 * k)
        .arg(1100 + 150 * k)
        .arg(standing == 0 ? 300 : 0)
        .arg(standing == 0 ? 150 : 0);
}

// A bracket generated, developed and measured as "Calc EV" leaves it.
struct Bracket {
    QTemporaryDir dir;
    QStringList raws;
    ImageSet set;
    QString reference() const { return dir.filePath(raws[0]); }
};

std::unique_ptr<Bracket> makeBracket(const QStringList& generator) {
    auto b = std::make_unique<Bracket>();
    QProcess::execute(
        QStringLiteral(ORRINDALE_MAKE_BRACKET),
        generator + QStringList{"--count", QString::number(kFrames), "--out", b->dir.path()});
    DevelopSettings settings;
    presetWB(2, settings.txtWB);
    const QStringList args = dcrawArguments(ConstruirComandoDCRAW(settings, false, false));
    for (int i = 1; i <= kFrames; ++i)
        b->raws << QStringLiteral("IMG_%1.dng").arg(i, 4, 10, QLatin1Char('0'));
    // Two decoders at a time, as "Develop" runs them on two cores.
    parallelRows(kFrames, 1, [&](const RowBand& band) {
        QProcess dcraw;
        dcraw.start(RutaDCRAW, QStringList(args) << b->dir.filePath(b->raws[band.begin]));
        dcraw.waitForFinished(-1);
    });
    RecordingReporter rep;
    if (calcularEV(b->reference(), b->raws, false, b->set, rep) != 1)
        throw std::runtime_error("Calc EV failed");
    return b;
}

Bracket& movingBracket() {
    static const std::unique_ptr<Bracket> made = makeBracket({"--mover", mover()});
    return *made;
}

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Processor time of the whole process (every thread), which the machine's
// load changes less than the time on the clock.
double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(0).toDouble() : -1;
}

void BM_DeghostDetection(benchmark::State& state) {
    const Bracket& b = movingBracket();
    double model = 0, detection = 0, cpu = 0;
    MotionAreas areas;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        const WeightedModel m = measureWeightedModel(b.set);
        model += since(t0);
        t0 = std::chrono::steady_clock::now();
        const double cpu0 = cpuSeconds();
        areas = detectMotion(b.set, m, MotionSettings{0, 6});
        detection += since(t0);
        cpu += cpuSeconds() - cpu0;
    }
    const double it = static_cast<double>(state.iterations());
    state.counters["noise_model_s"] = model / it;
    state.counters["detection_s"] = detection / it;
    state.counters["detection_cpu_s"] = cpu / it;
    state.counters["areas"] = static_cast<double>(areas.references.size());
    state.counters["area_%"] = 100 * areas.share();
    state.counters["load1"] = loadAverage();
}

// "Build map" then "Colour" (one file, gamma 2.2), through the stages the
// window runs. args: Deghost, weighted merge.
void BM_DeghostMapAndColour(benchmark::State& state) {
    Bracket& b = movingBracket();
    MapSettings map;
    map.deghost = state.range(0) != 0;
    BlendSettings blend;
    blend.merge = state.range(1) != 0 ? BlendMerge::Weighted : BlendMerge::Select;
    blend.perfil = QStringLiteral("sRGB");
    std::map<std::string, double> sum;
    long long mapAdded = 0;
    for (auto _ : state) {
        TimingReporter mapLog, blendLog;
        malloc_trim(0);
        const long long before = residentBytes();
        resetPeakMemory();
        auto t0 = std::chrono::steady_clock::now();
        double cpu0 = cpuSeconds();
        blend.rutaMapa = GenerarMapa(b.reference(), map, b.set, mapLog);
        sum["build_map_s"] += since(t0);
        mapAdded = std::max(mapAdded, peakResidentBytes() - before);
        sum["build_map_cpu_s"] += cpuSeconds() - cpu0;
        sum[" detection_s"] += mapLog.secondsAfter(QStringLiteral("Detecting moving"));
        sum[" moving_png_s"] += mapLog.secondsAfter(QStringLiteral("Saving moving areas"));
        // The progressive blending, and the deghosted map with Deghost.
        sum[" progressive_s"] += mapLog.secondsAfter(QStringLiteral("Building progressive"));
        sum[" map_png_s"] += mapLog.secondsAfter(QStringLiteral("\r\nSaving PNG map"));
        t0 = std::chrono::steady_clock::now();
        cpu0 = cpuSeconds();
        if (FusionarImagenes(b.reference(), blend, b.set, blendLog) != 1)
            state.SkipWithError("blend failed");
        sum["colour_s"] += since(t0);
        sum["colour_cpu_s"] += cpuSeconds() - cpu0;
        for (const QString& f : mapLog.written + blendLog.written) QFile::remove(f);
    }
    const double it = static_cast<double>(state.iterations());
    for (auto& [name, seconds] : sum) state.counters[name] = seconds / it;
    state.counters["total_s"] = (sum["build_map_s"] + sum["colour_s"]) / it;
    state.counters["total_cpu_s"] = (sum["build_map_cpu_s"] + sum["colour_cpu_s"]) / it;
    state.counters["map_added_B/px"] =
        static_cast<double>(mapAdded) / (static_cast<double>(b.set.AnchoImagen) * b.set.AltoImagen);
    state.counters["load1"] = loadAverage();
}

// The frames brought to image 1's exposure (0..1 = image 1's full scale) as
// 32-bit float RGBA TIFFs, clipped pixels transparent, as Hugin's merge
// takes exposure layers.
QStringList writeExposureLayers(const ImageSet& set, const QString& folder) {
    QStringList paths;
    for (size_t k = 0; k < set.ImagenesTIFF.size(); ++k) {
        const GflBitmap& image = set.ImagenesTIFF[k];
        const QString path = folder + QStringLiteral("/layer%1.tif").arg(k + 1);
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
        const double q = set.ExpRelativas[k] / 65535;
        std::vector<float> row(static_cast<size_t>(image.width) * 4);
        for (int y = 0; y < image.height; ++y) {
            const uint16_t* in = image.row(y);
            for (int x = 0; x < image.width; ++x) {
                const bool clipped = std::max({in[x * 3], in[x * 3 + 1], in[x * 3 + 2]}) >= 58982;
                for (int c = 0; c < 3; ++c)
                    row[static_cast<size_t>(x) * 4 + c] = static_cast<float>(in[x * 3 + c] * q);
                row[static_cast<size_t>(x) * 4 + 3] = clipped ? 0.0f : 1.0f;
            }
            TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y));
        }
        TIFFClose(tif);
        paths << path;
    }
    return paths;
}

// Green of a float RGB(A) TIFF, in image 1's 16-bit units.
std::vector<float> floatGreen(const QString& path) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif) return {};
    uint32_t w = 0, h = 0;
    uint16_t samples = 3;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    std::vector<float> green(static_cast<size_t>(w) * h), row(static_cast<size_t>(w) * samples);
    for (uint32_t y = 0; y < h; ++y) {
        TIFFReadScanline(tif, row.data(), y);
        for (uint32_t x = 0; x < w; ++x)
            green[static_cast<size_t>(y) * w + x] =
                row[static_cast<size_t>(x) * samples + 1] * 65535;
    }
    TIFFClose(tif);
    return green;
}

std::vector<float> outputGreen(const QString& path) {
    GflBitmap image;
    readTiffRgb16(path, image);
    std::vector<float> green(static_cast<size_t>(image.width) * image.height);
    for (size_t i = 0; i < green.size(); ++i) green[i] = image.pixels[i * 3 + 1];
    return green;
}

// Root mean square difference inside and outside the moving areas.
void compare(const std::vector<float>& a, const std::vector<float>& truth, const MotionAreas& areas,
             double& inside, double& outside) {
    double in = 0, out = 0;
    long long nIn = 0, nOut = 0;
    for (int y = 0; y < areas.height; ++y)
        for (int x = 0; x < areas.width; ++x) {
            const size_t i = static_cast<size_t>(y) * areas.width + x;
            const double d = static_cast<double>(a[i]) - truth[i];
            if (areas.areaAt(x, y) != 0) {
                in += d * d;
                ++nIn;
            } else {
                out += d * d;
                ++nOut;
            }
        }
    inside = std::sqrt(in / std::max(nIn, 1LL));
    outside = std::sqrt(out / std::max(nOut, 1LL));
}

// Ours with and without Deghost and Hugin's khan merge, each against the
// truth (all linear, at image 1's exposure); the merge timed.
void BM_DeghostPeer(benchmark::State& state) {
    Bracket& b = movingBracket();
    if (!QFileInfo(QString::fromLatin1(kHuginMerge)).isExecutable()) {
        state.SkipWithError("hugin_hdrmerge is not installed");
        for (auto _ : state) {
        }
        return;
    }
    MapSettings map;
    BlendSettings blend;
    blend.gamma = 10;
    blend.perfil = QStringLiteral("sRGB");
    auto ours = [&](ImageSet& set, const QString& reference, bool deghost) {
        RecordingReporter log;
        map.deghost = deghost;
        blend.rutaMapa = GenerarMapa(reference, map, set, log);
        FusionarImagenes(reference, blend, set, log);
        const std::vector<float> green = outputGreen(log.written.back());
        for (const QString& f : log.written) QFile::remove(f);
        return green;
    };
    const std::vector<float> plain = ours(b.set, b.reference(), false);
    const std::vector<float> deghosted = ours(b.set, b.reference(), true);
    const MotionAreas areas = b.set.motion;
    if (areas.none()) state.SkipWithError("nothing detected");
    std::unique_ptr<Bracket> truth =
        makeBracket({"--no-noise", "--mover", mover(areas.references.at(0))});
    const std::vector<float> truthGreen = ours(truth->set, truth->reference(), false);

    QTemporaryDir out;
    const QStringList layers = writeExposureLayers(b.set, out.path());
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QString::fromLatin1(kHuginMerge),
                QStringList{"-m", "khan", "-o", out.filePath("khan.tif")} + layers);
        p.waitForFinished(-1);
        seconds += since(t0);
        if (p.exitCode() != 0) state.SkipWithError("hugin_hdrmerge failed");
    }
    state.counters["khan_s"] = seconds / static_cast<double>(state.iterations());
    double in = 0, outside = 0;
    compare(plain, truthGreen, areas, in, outside);
    state.counters["plain_in_rms"] = in;
    state.counters["plain_out_rms"] = outside;
    compare(deghosted, truthGreen, areas, in, outside);
    state.counters["deghost_in_rms"] = in;
    state.counters["deghost_out_rms"] = outside;
    // Hugin's merge returns its own scale: brought to the truth's by the
    // median ratio where the truth is well exposed and still.
    std::vector<float> khan = floatGreen(out.filePath("khan.tif"));
    std::vector<float> ratios;
    for (int y = 0; y < areas.height; ++y)
        for (int x = 0; x < areas.width; ++x) {
            const size_t i = static_cast<size_t>(y) * areas.width + x;
            if (areas.areaAt(x, y) == 0 && truthGreen[i] > 1000 && truthGreen[i] < 50000)
                ratios.push_back(khan[i] / truthGreen[i]);
        }
    std::nth_element(ratios.begin(),
                     ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2), ratios.end());
    const float gain = ratios.empty() ? 1.0f : ratios[ratios.size() / 2];
    for (float& v : khan) v /= gain;
    compare(khan, truthGreen, areas, in, outside);
    state.counters["khan_gain"] = gain;
    state.counters["khan_in_rms"] = in;
    state.counters["khan_out_rms"] = outside;
    state.counters["load1"] = loadAverage();
}

BENCHMARK(BM_DeghostDetection)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_DeghostMapAndColour)
    ->ArgNames({"deghost", "weighted"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_DeghostPeer)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
