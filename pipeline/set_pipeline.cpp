// Running a set's stages: each through its procedure, its outcome from what
// the procedure told the user, and the whole chain for a run without a window.
#include "pipeline/set_pipeline.h"

#include "develop/raw_set.h"
#include "pipeline/blend_stage.h"
#include "pipeline/calc_ev.h"
#include "pipeline/map_stage.h"
#include "pipeline/outcome_reporter.h"
#include "pipeline/tiff_prefetch.h"
#include "support/paths.h"

namespace {

// The outcome of a procedure that returned `succeeded`: an ERROR box told
// meanwhile (a file that could not be saved, say) fails it too.
StageOutcome outcomeOf(const OutcomeReporter& r, bool succeeded) {
    StageOutcome o;
    o.files = r.files();
    if (!succeeded || r.failed()) {
        o.result = StageOutcome::Result::Failed;
        o.message = r.message();
    }
    return o;
}

StageOutcome stopped() {
    StageOutcome o;
    o.result = StageOutcome::Result::Stopped;
    return o;
}

}  // namespace

void StageOutcome::add(const StageOutcome& later) {
    files << later.files;
    if (later.ok() || result == Result::Stopped) return;
    result = later.result;
    if (!later.message.isEmpty()) {
        message = later.message;
        told = later.told;
    }
}

FullDevelopmentJob developmentJob(const QString& rutaReferencia, const QStringList& archivosRAW,
                                  const SetSettings& settings) {
    FullDevelopmentJob job;
    job.rutaReferencia = rutaReferencia;
    job.archivosRAW = archivosRAW;
    job.settings = settings.develop;
    job.hlRecovery = settings.hlRecovery;
    job.decoder = settings.decoder;
    return job;
}

SetPipeline::SetPipeline(ImageSet& set, Reporter& reporter, SetProgress progress)
    : set_(set), reporter_(reporter), progress_(std::move(progress)) {}

bool SetPipeline::goOn(SetStage stage) { return !progress_ || progress_(stage); }

StageOutcome SetPipeline::measure(const QString& rutaReferencia, const QStringList& archivosRAW,
                                  const SetSettings& settings) {
    OutcomeReporter r(reporter_);
    const int result = calcularEV(rutaReferencia, archivosRAW, settings.metodoMedia, settings.align,
                                  set_, r, settings.develop.headroom);
    return outcomeOf(r, result != -1);
}

StageOutcome SetPipeline::buildMap(const QString& rutaReferencia, const SetSettings& settings) {
    OutcomeReporter r(reporter_);
    const QString path = GenerarMapa(rutaReferencia, settings.map, set_, r);
    return outcomeOf(r, !path.isEmpty());
}

StageOutcome SetPipeline::useChosenMap() {
    set_.buildFor(static_cast<int>(set_.ImagenesTIFF.size()));
    return {};
}

StageOutcome SetPipeline::blend(const QString& rutaReferencia, const SetSettings& settings) {
    OutcomeReporter r(reporter_);
    return outcomeOf(r, FusionarImagenes(rutaReferencia, settings.blend, set_, r) == 1);
}

StageOutcome SetPipeline::contactSheet(const QString& rutaReferencia, const QString& rutaMapa) {
    OutcomeReporter r(reporter_);
    return outcomeOf(r, TestImagenesBN(rutaReferencia, rutaMapa, set_, r) == 1);
}

StageOutcome SetPipeline::develop(const QString& rutaReferencia, const QStringList& archivosRAW,
                                  const SetSettings& settings, const Development& development) {
    OutcomeReporter r(reporter_);
    FullDevelopment run(*development.launcher, r, set_, development.options);
    // Frames are decoded as they come, while the others still develop. Not
    // with highlight recovery, which loads the set itself meanwhile.
    TiffPrefetch prefetch;
    const DevelopmentStatus developed = developToEnd(
        run, developmentJob(rutaReferencia, archivosRAW, settings), development.pollMs, [&] {
            if (!settings.hlRecovery) prefetch.take(run.pool());
        });
    prefetch.finish(set_);
    StageOutcome o = outcomeOf(r, developed == DevelopmentStatus::Complete);
    if (o.ok() && run.numRevelados() < 2) {
        o.result = StageOutcome::Result::Failed;
        o.message = QStringLiteral("fewer than two files of ") + NombreArchivo(rutaReferencia) +
                    QStringLiteral(" were developed");
        o.told = false;
    }
    return o;
}

StageOutcome SetPipeline::runWholeSet(const QString& reference, const SetSettings& settings,
                                      const Development& development) {
    if (!goOn(SetStage::List)) return stopped();
    QStringList archivosRAW;
    OutcomeReporter listingReporter(reporter_);
    const RawListing listing = LeerArchivosRAW(reference, archivosRAW, listingReporter);
    if (!listing.listed || archivosRAW.isEmpty()) return outcomeOf(listingReporter, false);
    // More than ten files is told but not a failure: the first ten are the set.
    const QString ruta = listing.reference;

    StageOutcome run;
    if (!settings.noDevelop) {
        if (!goOn(SetStage::Develop)) return stopped();
        run.add(develop(ruta, archivosRAW, settings, development));
        if (!run.ok()) return run;
    }
    if (!goOn(SetStage::Measure)) return stopped();
    run.add(measure(ruta, archivosRAW, settings));
    if (!run.ok()) return run;

    if (!goOn(SetStage::Map)) return stopped();
    QString mapPath = settings.mapFile;
    if (mapPath.isEmpty()) {
        const StageOutcome built = buildMap(ruta, settings);
        run.add(built);
        if (!run.ok()) return run;
        mapPath = built.files.value(0);
    } else {
        run.add(useChosenMap());
    }
    // The outputs are made each on its own: a failed blend still leaves the
    // contact sheet to make.
    if (!settings.noBlend) {
        if (!goOn(SetStage::Blend)) return stopped();
        SetSettings blendSettings = settings;
        blendSettings.blend.rutaMapa = mapPath;
        run.add(blend(ruta, blendSettings));
    }
    if (settings.contactSheet) {
        if (!goOn(SetStage::ContactSheet)) return stopped();
        run.add(contactSheet(ruta, mapPath));
    }
    return run;
}
