// The viewer's speed and memory: the first fitted picture of a 24-megapixel
// output (open, decode for the screen, reduced levels, the fitted view), the
// repaint of a view at 100 % and other scales while panning, a frame brought
// to the output, and the memory a picture holds, per pixel; BM_ViewerOpen100MP
// the same for a 100-megapixel output (written first, which takes a while);
// BM_ViewerFirstFittedHdrOutput the first fitted picture of each other output
// format.
#include "bench/bench_files.h"
#include "bench/bench_timing.h"
#include "blend/hdr_output.h"
#include "maps/maps.h"
#include "pipeline/output_formats.h"
#include "pipeline/set_pictures.h"
#include "support/exr_writer.h"
#include "support/icc_profile.h"
#include "support/png_writer.h"
#include "support/tiff_io.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <QPainter>
#include <QTemporaryDir>
#include <chrono>
#include <memory>

namespace {

// The view of a window at 80 % of a 1920 x 1080 screen, less the list and
// the read-out line.
const QSize kView(1524, 800);

// An output of `width` x `height` as the blend writes it (LZW with
// predictor), its map and what the blend recorded of it.
struct OutputFiles {
    QTemporaryDir dir;
    SetFiles files;
    PictureEntry entry;
    long long pixels = 0;
    OutputFormat format;

    OutputFiles(int width, int height, OutputFormat format = OutputFormat::Tiff16)
        : format(format) {
        pixels = static_cast<long long>(width) * height;
        const QString output =
            dir.filePath(QStringLiteral("OD_120000_sRGB") + formatInfo(format).extension);
        const QString map = dir.filePath(QStringLiteral("Map_120000.png"));
        {
            const GflBitmap image = syntheticFrame(width, height, 3.0, 7);
            if (format == OutputFormat::Tiff16) {
                writeTiffRgb16(image, output);
            } else {
                // The frame's samples as linear values, four times brighter
                // than full scale at most.
                const LinearRgbRows rows{
                    width, height, [&image](int32_t first, int32_t count, double* out) {
                        const size_t n = static_cast<size_t>(count) * image.width * 3;
                        const uint16_t* in = image.row(first);
                        for (size_t i = 0; i < n; ++i) out[i] = in[i] * (4.0 / 65535);
                    }};
                if (format == OutputFormat::TiffFloat) writeTiffFloat(rows, output);
                if (format == OutputFormat::ExrHalf || format == OutputFormat::ExrFloat)
                    writeExr(rows, output,
                             format == OutputFormat::ExrHalf ? ExrPixels::Half : ExrPixels::Float,
                             {});
                if (format == OutputFormat::AvifPq) {
                    RgbColourSpace srgb;  // BT.709 primaries at D65, as D50 colorants
                    srgb.red = {0.4360, 0.2225, 0.0139};
                    srgb.green = {0.3851, 0.7169, 0.0971};
                    srgb.blue = {0.1431, 0.0606, 0.7141};
                    srgb.white = {0.9505, 1.0, 1.0891};
                    PqRows pq(rows, matrixToBt2020(srgb), 10);
                    writeAvifPq(pq.rows(), output, {}, [&pq] { return pq.contentLight(); });
                }
            }
        }
        // Three bands of images 1 to 3.
        QImage levels(width, height, QImage::Format_Grayscale8);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                levels.scanLine(y)[x] = greyOfImage(1 + x * 3 / width, 3);
        writePng(levels, map, kPngQualityFast);
        files.output.made(output);
        files.outputBlend.factors = {1, 4, 16};
        files.outputBlend.g = 1 / 2.2f;
        files.outputBlend.rutaMapa = map;
        files.outputBlend.tablaMapa = buildTablaMapa(3);
        files.outputBlend.imagenes = {QStringLiteral("IMG_1.tiff"), QStringLiteral("IMG_2.tiff"),
                                      QStringLiteral("IMG_3.tiff")};
        entry = picturesOfSet(ImageSet(), files).front();
    }
};

OutputFiles& output24() {
    static OutputFiles f(kBenchWidth, kBenchHeight);
    return f;
}

double msSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

// Opens the output as "View" does, to the first fitted view (the time
// reported), then its reduced levels and the map its notes read, timing each
// step, and the peak memory the picture (levels included) and its notes take.
void openOutput(benchmark::State& state, OutputFiles& f) {
    double open = 0, decode = 0, levels = 0, fit = 0, notes = 0, held = 0, withNotes = 0;
    // The whole-image reader on one core, for scale.
    auto t = std::chrono::steady_clock::now();
    if (f.format == OutputFormat::Tiff16) {
        GflBitmap whole;
        readTiffRgb16(f.files.output.path, whole);
        state.counters["whole_16bit_read_ms"] = msSince(t);
    }
    for (auto _ : state) {
        malloc_trim(0);
        const long long before = residentBytes();
        resetPeakMemory();
        const auto t0 = std::chrono::steady_clock::now();
        const std::unique_ptr<PictureSource> source = openPicture(f.entry, ImageSet(), f.files);
        open += msSince(t0);
        t = std::chrono::steady_clock::now();
        PicturePyramid pyramid(source->screenPicture());
        decode += msSince(t);
        // The viewer shows the full level fitted at once, and makes the
        // reduced levels on a thread of their own meanwhile.
        t = std::chrono::steady_clock::now();
        const QImage first = renderView(pyramid, fitted(pyramid.size(), kView), kView, 0);
        benchmark::DoNotOptimize(first.constBits());
        fit += msSince(t);
        state.SetIterationTime(msSince(t0) / 1000);
        t = std::chrono::steady_clock::now();
        pyramid.buildLevels();
        const QImage smooth = renderView(pyramid, fitted(pyramid.size(), kView), kView, 0);
        benchmark::DoNotOptimize(smooth.constBits());
        levels += msSince(t);
        held = static_cast<double>(peakResidentBytes() - before);
        t = std::chrono::steady_clock::now();
        source->prepareNotes();
        notes += msSince(t);
        benchmark::DoNotOptimize(source->noteAt(10, 10, pyramid.level(0)));
        withNotes = static_cast<double>(peakResidentBytes() - before);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["open_ms"] = open / n;
    state.counters["decode_ms"] = decode / n;
    state.counters["then_levels_ms"] = levels / n;
    state.counters["first_fit_view_ms"] = fit / n;
    state.counters["map_notes_ms"] = notes / n;
    state.counters["peak_B_per_px"] = held / static_cast<double>(f.pixels);
    state.counters["peak_with_notes_B_per_px"] = withNotes / static_cast<double>(f.pixels);
}

void BM_ViewerFirstFittedOutput(benchmark::State& state) {
    openOutput(state, output24());
}

// The argument: the format's place in the window's list (1 to 4).
void BM_ViewerFirstFittedHdrOutput(benchmark::State& state) {
    const OutputFormatInfo& format = outputFormats()[static_cast<size_t>(state.range(0))];
    state.SetLabel(format.key);
    OutputFiles f(kBenchWidth, kBenchHeight, format.format);
    openOutput(state, f);
}

void BM_ViewerOpen100MP(benchmark::State& state) {
    OutputFiles f(10000, 10000);
    openOutput(state, f);
}

// One repaint of the view while panning: the view drawn and put on the
// window's backing store. The argument is the zoom in percent.
void BM_ViewerRepaint(benchmark::State& state) {
    static PicturePyramid pyramid = [] {
        PicturePyramid p(
            openPicture(output24().entry, ImageSet(), output24().files)->screenPicture());
        p.buildLevels();
        return p;
    }();
    const double scale = static_cast<double>(state.range(0)) / 100;
    QImage window(kView, QImage::Format_RGB32);
    ViewPlacement place = centredOn(QPointF(kBenchWidth / 2.0, kBenchHeight / 2.0), scale, kView);
    int step = 0;
    for (auto _ : state) {
        // Back and forth, so every view is all picture.
        const double d = (step++ % 2) ? 1 : -1;
        place.origin += QPointF(37 * d, 11 * d);
        const QImage view = renderView(pyramid, place, kView, 0);
        QPainter painter(&window);
        painter.drawImage(0, 0, view);
    }
}

// Frame k of a loaded set brought to the output, for the screen.
void BM_ViewerFrame(benchmark::State& state) {
    static ImageSet set = [] {
        ImageSet s;
        for (int k = 0; k < 2; ++k) {
            s.ImagenesTIFF.push_back(
                syntheticFrame(kBenchWidth, kBenchHeight, 1 << (2 * k), 3 + k));
            s.ArchivosTIFF << QStringLiteral("/frames/IMG_%1.tiff").arg(k + 1);
        }
        s.AnchoImagen = kBenchWidth;
        s.AltoImagen = kBenchHeight;
        s.TIFFsCargados = true;
        s.ExpRelativas = {1, 0.25};
        return s;
    }();
    set.lastBlend.factors = {1, 0.25};
    set.lastBlend.g = 1 / 2.2f;
    set.lastBlend.blancoNegro = state.range(0) != 0;
    set.lastBlend.weights = mixWeights(33, 33);
    const PictureEntry entry = picturesOfSet(set, SetFiles())[1];
    for (auto _ : state) {
        const std::unique_ptr<PictureSource> source = openPicture(entry, set, SetFiles());
        PicturePyramid pyramid(source->screenPicture());
        pyramid.buildLevels();
        benchmark::DoNotOptimize(pyramid.level(0).row(0));
    }
}

BENCHMARK(BM_ViewerFirstFittedOutput)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);
BENCHMARK(BM_ViewerFirstFittedHdrOutput)
    ->DenseRange(1, 4)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_ViewerOpen100MP)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_ViewerRepaint)
    ->ArgName("zoom_percent")
    ->Arg(100)
    ->Arg(200)
    ->Arg(400)
    ->Arg(50)
    ->Arg(37)
    ->Arg(25)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ViewerFrame)
    ->ArgName("bw")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
