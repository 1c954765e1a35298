// dcraw on one 6000 x 4000 sample frame: the quick preview run and the full
// run, and the work between dcraw's exit and the preview on screen (the
// completeness check, decoding, area-average resize and display gamma).
#include "develop/dcraw_command.h"
#include "develop/dcraw_process.h"
#include "develop/patch.h"
#include "support/objeto_imagen.h"
#include "support/tiff_io.h"

#include <benchmark/benchmark.h>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Sample {
    QTemporaryDir dir;
    QString raw;
    Sample() {
        QProcess::execute(QStringLiteral(ORRINDALE_MAKE_BRACKET),
                          {"--count", "1", "--width", "6000", "--height", "4000", "--out",
                           dir.path()});
        raw = dir.filePath("IMG_0001.dng");
    }
};

Sample& sample() {
    static Sample s;
    return s;
}

void runDcraw(benchmark::State& state, bool quick) {
    Sample& s = sample();
    DevelopSettings settings;
    presetWB(2, settings.txtWB);
    const QString line = ConstruirComandoDCRAW(settings, quick, false);
    for (auto _ : state) {
        QProcess dcraw;
        dcraw.start(RutaDCRAW, dcrawArguments(line) << s.raw);
        dcraw.waitForFinished(-1);
    }
}

void BM_DcrawQuick(benchmark::State& state) { runDcraw(state, true); }
void BM_DcrawFull(benchmark::State& state) { runDcraw(state, false); }

// From a finished quick run's TIFF to the picture the preview box shows.
void BM_ExitToPreview(benchmark::State& state) {
    Sample& s = sample();
    DevelopSettings settings;
    presetWB(2, settings.txtWB);
    QProcess dcraw;
    dcraw.start(RutaDCRAW,
                dcrawArguments(ConstruirComandoDCRAW(settings, state.range(0) == 1, false)) << s.raw);
    dcraw.waitForFinished(-1);
    const QString tiff = tiffDeRaw(s.raw);
    for (auto _ : state) {
        if (!tiffFileIsComplete(tiff)) state.SkipWithError("incomplete TIFF");
        ObjetoImagen picture;
        picture.Cargar(tiff);
        const QSize shown = tamanoMostrado(588, 390, picture.Ancho(), picture.Alto());
        picture.Redimensionar(shown.width(), shown.height());
        picture.CorregirGamma(2.2);
        benchmark::DoNotOptimize(picture.ImagenVisible().constBits());
    }
    state.SetLabel(state.range(0) == 1 ? "quick (half-size) TIFF" : "full-size TIFF");
}

BENCHMARK(BM_DcrawQuick)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_DcrawFull)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_ExitToPreview)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
