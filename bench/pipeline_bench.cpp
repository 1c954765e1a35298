// The pipeline after development on five 6000 x 4000 developed frames:
// "Calc EV" (Median), "Build map" (defaults) and the colour blend (gamma 2.2,
// one file), stage by stage with every file write timed apart, next to the
// I/O floor of the same run: decoding the five TIFFs and writing one LZW TIFF.
#include "bench/bench_files.h"
#include "bench/bench_timing.h"
#include "blend/blend.h"
#include "pipeline/blend_stage.h"
#include "pipeline/calc_ev.h"
#include "maps/maps.h"
#include "pipeline/map_stage.h"
#include "support/parallel.h"
#include "support/tiff_io.h"

#include <benchmark/benchmark.h>
#include <QDir>
#include <QFile>
#include <chrono>
#include <memory>

namespace {

struct DevelopedSet {
    QTemporaryDir dir;
    QString folder;
    QStringList raws;
    QString reference() const { return folder + raws[0]; }
};

// Written once, shuffled on disk as a bracket's files come.
const DevelopedSet& developedSet() {
    static const std::unique_ptr<DevelopedSet> made = [] {
        auto d = std::make_unique<DevelopedSet>();
        d->folder = d->dir.path() + QStringLiteral("/");
        const double gains[] = {7.0, 1.0, 19.0, 2.7, 50.0};
        for (int i = 0; i < 5; ++i) {
            writeUncompressedTiff(syntheticFrame(kBenchWidth, kBenchHeight, gains[i], static_cast<uint32_t>(i + 1)),
                                  d->folder + QStringLiteral("IMG_%1.tiff").arg(i + 1));
            d->raws << QStringLiteral("IMG_%1.CR2").arg(i + 1);
        }
        return d;
    }();
    return *made;
}

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void removeWritten(const QString& folder) {
    for (const QString& f : QDir(folder).entryList(
             {QStringLiteral("OD_*"), QStringLiteral("Map_*"), QStringLiteral("His_*")}, QDir::Files))
        QFile::remove(folder + f);
}

void BM_Pipeline(benchmark::State& state) {
    const DevelopedSet& d = developedSet();
    std::map<std::string, double> sum;
    for (auto _ : state) {
        removeWritten(d.folder);
        // The floor: the five files decoded as the load decodes them, one LZW TIFF written.
        auto t0 = std::chrono::steady_clock::now();
        std::vector<GflBitmap> decoded(5);
        parallelRows(5, 1, [&](const RowBand& band) {
            for (int i = band.begin; i < band.end; ++i)
                readTiffRgb16(d.folder + QStringLiteral("IMG_%1.tiff").arg(i + 1), decoded[static_cast<size_t>(i)]);
        });
        sum["floor_decode_s"] += since(t0);
        t0 = std::chrono::steady_clock::now();
        writeTiffRgb16(decoded[0], d.folder + QStringLiteral("OD_floor.tif"));
        sum["floor_write_s"] += since(t0);
        decoded.clear();

        ImageSet set;
        TimingReporter ev;
        t0 = std::chrono::steady_clock::now();
        if (calcularEV(d.reference(), d.raws, false, set, ev) != 1) state.SkipWithError("Calc EV failed");
        sum["calc_ev_s"] += since(t0);
        sum[" calc_ev_load_s"] += ev.secondsBetween(QStringLiteral("Loading 5 TIFF"), QStringLiteral("\r\nCalculating absolute"));
        sum[" calc_ev_gif_write_s"] += ev.secondsAfter(QStringLiteral("\r\nSaving exposure histogram"));

        TimingReporter map;
        t0 = std::chrono::steady_clock::now();
        const QString mapPath = GenerarMapa(d.reference(), MapSettings(), set, map);
        if (mapPath.isEmpty()) state.SkipWithError("Build map failed");
        sum["build_map_s"] += since(t0);
        sum[" build_map_png_write_s"] += map.secondsAfter(QStringLiteral("\r\nSaving PNG map"));

        TimingReporter blend;
        BlendSettings s;
        s.rutaMapa = mapPath;
        s.perfil = QStringLiteral("sRGB");
        t0 = std::chrono::steady_clock::now();
        if (FusionarImagenes(d.reference(), s, set, blend) != 1) state.SkipWithError("blend failed");
        sum["blend_s"] += since(t0);
        sum[" blend_pb_png_write_s"] += blend.secondsAfter(QStringLiteral("Saving PNG progressive map"));
        sum[" blend_tiff_write_s"] += blend.secondsAfter(QStringLiteral("Saving image as"));
    }
    const double it = static_cast<double>(state.iterations());
    for (auto& [name, seconds] : sum) state.counters[name] = seconds / it;
    const double floor = (sum["floor_decode_s"] + sum["floor_write_s"]) / it;
    const double total = (sum["calc_ev_s"] + sum["build_map_s"] + sum["blend_s"]) / it;
    state.counters["floor_s"] = floor;
    state.counters["total_s"] = total;
    state.counters["total_over_floor"] = total / floor;
    removeWritten(d.folder);
}
BENCHMARK(BM_Pipeline)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
