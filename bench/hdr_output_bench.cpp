// The outputs of one 6000 x 4000 blend in each format: the write alone from
// blended planes of a photograph-like bracket, against today's 16-bit TIFF; the HDR AVIF's encoder
// speeds and quantizers with the PSNR of the decoded PQ codes; and the memory a whole blend adds
// with each format.
#include "bench/bench_files.h"
#include "bench/bench_timing.h"
#include "blend/blend_internal.h"
#include "blend/hdr_output.h"
#include "maps/maps.h"
#include "pipeline/blend_stage.h"
#include "pipeline/hdr_files.h"
#include "support/avif_writer.h"
#include "support/gfl_bitmap.h"
#include "support/icc_profile.h"
#include "support/output_tags.h"
#include "tests/common/hdr_readers.h"

#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <array>
#include <chrono>
#include <cmath>

namespace {

// A photograph-like output: a textured 0/+2/+4 EV bracket of 6000 x 4000
// (orrindale-make-bracket --texture), developed by dcraw in sRGB and blended
// by orrindale-batch into a float OpenEXR, read back once as planes: linear
// for the float and HDR formats, gamma 2.2 (today's default) for the 16-bit
// TIFF. Texture and noise as a real shot has them matter to every codec.
struct TexturedOutput {
    QTemporaryDir dir;
    OutputPlanes linear, gamma22;
    ShotData shot;
};
const TexturedOutput& texturedOutput() {
    static const std::unique_ptr<TexturedOutput> made = [] {
        auto t = std::make_unique<TexturedOutput>();
        const QString folder = t->dir.path() + QStringLiteral("/");
        QProcess::execute(QStringLiteral(ORRINDALE_MAKE_BRACKET),
                          {"--count", "3", "--step", "2", "--texture", "--out", folder});
        QProcess::execute(QStringLiteral(ORRINDALE_BATCH),
                          {"--format", "exr-float", "--stable-names", "--out", folder + "out",
                           folder + "IMG_0001.dng"});
        const QString set = folder + QStringLiteral("out/IMG_0001/");
        t->shot = readShotData(set + QStringLiteral("IMG_0001.tiff"));
        Imf::InputFile file(QFile::encodeName(set + QStringLiteral("IMG_0001_OD_sRGB_linear.exr")));
        const Imath::Box2i window = file.header().dataWindow();
        const int w = window.max.x + 1, h = window.max.y + 1;
        std::vector<float> values(static_cast<size_t>(w) * h * 3);
        Imf::FrameBuffer frame;
        const char* names[3] = {"R", "G", "B"};
        for (size_t c = 0; c < 3; ++c)
            frame.insert(names[c],
                         Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(values.data() + c),
                                    3 * sizeof(float), 3 * sizeof(float) * w));
        file.setFrameBuffer(frame);
        file.readPixels(0, h - 1);
        const float g = inverseGamma(22);
        for (OutputPlanes* p : {&t->linear, &t->gamma22}) {
            p->width = w;
            p->height = h;
            p->values.reset(new double[values.size()]);
        }
        for (size_t i = 0; i < values.size(); ++i) {
            t->linear.values[i] = 65535.0 * values[i];
            t->gamma22.values[i] = encodeGamma(t->linear.values[i], g);
        }
        return t;
    }();
    return *made;
}

// The same size with the light falloff, fine texture and grain of
// tiff_io_bench's frame, linear to 1.3 times full scale: harder on every codec
// than the bracket, whose blend is very clean.
const OutputPlanes& grainyPlanes(bool gamma22) {
    static const std::array<OutputPlanes, 2> planes = [] {
        std::array<OutputPlanes, 2> p;
        const int w = texturedOutput().linear.width, h = texturedOutput().linear.height;
        const float g = inverseGamma(22);
        for (OutputPlanes& q : p) {
            q.width = w;
            q.height = h;
            q.values.reset(new double[static_cast<size_t>(w) * h * 3]);
        }
        uint32_t state = 12345;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                state = state * 1664525u + 1013904223u;
                const double light = 40000 + 30000 * std::sin(x * 0.001) * std::cos(y * 0.0013) +
                                     6000 * std::sin(x * 0.05 + y * 0.03);
                for (int c = 0; c < 3; ++c) {
                    const size_t i = (static_cast<size_t>(y) * w + x) * 3 + c;
                    p[0].values[i] = std::max(
                        0.0, light * (0.7 + 0.15 * c) + ((state >> (8 + 4 * c)) & 255) - 128.0);
                    p[1].values[i] = encodeGamma(p[0].values[i], g);
                }
            }
        return p;
    }();
    return planes[gamma22 ? 1 : 0];
}

constexpr const char* kExtensions[] = {".tif", ".tif", ".exr", ".exr", ".avif"};

// args: the format (OutputFormat's order), the source (0 the textured
// bracket's blend, 1 the grainy frame). Seconds per file; the file's size.
void BM_WriteOutput(benchmark::State& state) {
    const auto format = static_cast<OutputFormat>(state.range(0));
    const bool grainy = state.range(1) != 0;
    const TexturedOutput& textured = texturedOutput();
    const OutputPlanes& linear = grainy ? grainyPlanes(false) : textured.linear;
    const OutputPlanes& gamma22 = grainy ? grainyPlanes(true) : textured.gamma22;
    const ShotData& shot = textured.shot;
    const QString path = textured.dir.path() + QStringLiteral("/bench_output") +
                         QLatin1String(kExtensions[state.range(0)]);
    const QString description =
        QStringLiteral("Blend of 3 frames 2 EV apart, gamma 1, colour, +0 EV");
    const QByteArray profile = buildOutputProfile(shot.colours, 2.2);
    for (auto _ : state) {
        RecordingReporter rep;
        if (format == OutputFormat::Tiff16)
            GuardarGflBitmap(quantizedRows(gamma22, 1.0), path, rep,
                             outputTags(shot, profile, description));
        else
            writeHdrFile(format, linearPlaneRows(linear, 1.0), path, shot, description, false,
                         false, rep);
        if (!rep.boxes.empty()) state.SkipWithError(rep.boxes[0].text.toStdString().c_str());
    }
    state.counters["file_MB"] = static_cast<double>(QFileInfo(path).size()) / 1e6;
    QFile::remove(path);
}
BENCHMARK(BM_WriteOutput)
    ->ArgNames({"format", "grainy"})
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1}})
    ->Iterations(3)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The PQ codes of a source's linear planes, as the AVIF's source.
const std::vector<uint16_t>& pqCodes(bool grainy) {
    static std::array<std::vector<uint16_t>, 2> codes;
    std::vector<uint16_t>& made = codes[grainy ? 1 : 0];
    if (made.empty()) {
        const OutputPlanes& planes = grainy ? grainyPlanes(false) : texturedOutput().linear;
        const LinearRgbRows linear = linearPlaneRows(planes, 1.0);
        PqRows pq(linear, matrixToBt2020(*texturedOutput().shot.colours), 10);
        made.resize(static_cast<size_t>(planes.width) * planes.height * 3);
        pq.rows().fill(0, planes.height, made.data());
    }
    return made;
}

// PSNR of the decoded file's R'G'B' codes against the source's, in dB.
double decodedPsnr(const QString& path, const std::vector<uint16_t>& source) {
    const DecodedAvif d = decodeAvif(path);
    if (!d.ok || d.codes.size() != source.size()) return 0;
    double squares = 0;
    for (size_t i = 0; i < source.size(); ++i) {
        const double e = static_cast<double>(d.codes[i]) - source[i];
        squares += e * e;
    }
    const double peak = std::ldexp(1.0, d.depth) - 1;
    return 10 * std::log10(peak * peak * static_cast<double>(source.size()) /
                           std::max(squares, 1e-9));
}

// args: libavif speed, quantizer, source (0 the textured bracket's blend, 1
// the grainy frame). Seconds of the encode from 10-bit PQ codes in memory,
// PSNR of the decoded codes, file size: the writer takes the fastest speed
// that keeps 45 dB.
void BM_AvifSpeed(benchmark::State& state) {
    const bool grainy = state.range(2) != 0;
    const std::vector<uint16_t>& codes = pqCodes(grainy);
    AvifPqOptions options;
    options.speed = static_cast<int>(state.range(0));
    options.quantizer = static_cast<int>(state.range(1));
    RgbRows rows;
    rows.width = texturedOutput().linear.width;
    rows.height = texturedOutput().linear.height;
    rows.fill = [&codes, w = rows.width](int32_t first, int32_t count, uint16_t* out) {
        std::copy_n(codes.data() + static_cast<size_t>(first) * w * 3,
                    static_cast<size_t>(count) * w * 3, out);
    };
    const QString path = texturedOutput().dir.path() + QStringLiteral("/bench_speed.avif");
    for (auto _ : state) writeAvifPq(rows, path, options, {});
    state.counters["psnr_dB"] = decodedPsnr(path, codes);
    state.counters["file_MB"] = static_cast<double>(QFileInfo(path).size()) / 1e6;
    QFile::remove(path);
}
BENCHMARK(BM_AvifSpeed)
    ->ArgNames({"speed", "q", "grainy"})
    ->ArgsProduct({{6, 7, 8, 9, 10}, {10, 20, 30}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// args: the format, weighted merge, bracket count. The whole blend through
// the bench map, peak memory it adds to the loaded set per pixel, and its
// seconds. The HDR AVIF blends in B&W: the synthetic frames have no profile,
// and colours need one (the memory is the same).
void BM_OutputMemory(benchmark::State& state) {
    BenchBracket& b = benchBracket();
    BlendSettings s;
    s.rutaMapa = benchBracketMap();
    s.perfil = QStringLiteral("sRGB");
    s.format = static_cast<OutputFormat>(state.range(0));
    s.merge = state.range(1) != 0 ? BlendMerge::Weighted : BlendMerge::Select;
    s.numBracketing = static_cast<int>(state.range(2));
    s.blancoNegro = s.format == OutputFormat::AvifPq;
    long long added = 0;
    double seconds = 0;
    for (auto _ : state) {
        malloc_trim(0);
        const long long before = residentBytes();
        resetPeakMemory();
        RecordingReporter rep;
        const auto t0 = std::chrono::steady_clock::now();
        if (FusionarImagenes(b.reference(), s, b.set, rep) != 1 || !rep.boxes.empty())
            state.SkipWithError("blend failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        added = std::max(added, peakResidentBytes() - before);
        for (const QString& f : QDir(b.folder).entryList({QStringLiteral("OD*")}, QDir::Files))
            QFile::remove(b.folder + f);
    }
    state.counters["peak_added_B/px"] =
        static_cast<double>(added) / (static_cast<double>(kBenchWidth) * kBenchHeight);
    state.counters["total_s"] = seconds / static_cast<double>(state.iterations());
}
BENCHMARK(BM_OutputMemory)
    ->ArgNames({"format", "weighted", "files"})
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1}, {1}})
    ->Args({0, 0, 3})
    ->Args({2, 0, 3})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
