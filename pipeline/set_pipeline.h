// The stages of one set in order, as the window's buttons and orrindale-batch
// both run them: develop, "Calc EV" (load, sort, align, ratios, fill
// uncovered), the map, the blend with its outputs, the contact sheet. Each
// stage tells the user what it does through the reporter and returns one
// outcome; the window runs them one button at a time, the batch back to back.
#pragma once

#include "pipeline/full_development.h"
#include "pipeline/image_set.h"
#include "pipeline/set_settings.h"

#include <QString>
#include <QStringList>
#include <functional>

class Reporter;

// How a stage ended: done, failed (with what the user was told), or stopped
// before it began because the caller asked. Either way, the files it wrote.
struct StageOutcome {
    enum class Result { Done, Failed, Stopped };
    Result result = Result::Done;
    QString message;    // a failure's ERROR box or unexpected-error report
    bool told = true;   // the message has reached the user through the reporter
    QStringList files;  // files written whole, in the order written

    bool ok() const { return result == Result::Done; }
    // The files of a later stage follow this one's; a failure or stop stays.
    void add(const StageOutcome& later);
};

// The stages a run of a whole set goes through.
enum class SetStage { List, Develop, Measure, Map, Blend, ContactSheet };

// Hears each stage as it begins and answers whether to go on: false stops the
// run before that stage. For a headless caller that may be told to stop.
using SetProgress = std::function<bool(SetStage stage)>;

class SetPipeline {
  public:
    // The set and the reporter must outlive the pipeline.
    SetPipeline(ImageSet& set, Reporter& reporter, SetProgress progress = {});

    // "Calc EV" after its button checks: load, sort, align when asked,
    // relative exposures, values for what aligned frames did not cover.
    StageOutcome measure(const QString& rutaReferencia, const QStringList& archivosRAW,
                         const SetSettings& settings);
    // "Build map": its file is the outcome's first.
    StageOutcome buildMap(const QString& rutaReferencia, const SetSettings& settings);
    // A map chosen instead of built: decoded with the table a build for this
    // set makes.
    StageOutcome useChosenMap();
    // "Colour" or "B&W" (settings.blend says which) through settings.blend.rutaMapa.
    StageOutcome blend(const QString& rutaReferencia, const SetSettings& settings);
    // "T" through the map at `rutaMapa`.
    StageOutcome contactSheet(const QString& rutaReferencia, const QString& rutaMapa);

    // A whole set without a window, as `settings` asks: listing, development
    // by `launcher` (frames decoded as they come), then every stage above.
    // Ends at the first stage that fails or is stopped.
    struct Development {
        DecoderLauncher* launcher = nullptr;
        FullDevelopmentOptions options;
        int pollMs = 20;  // between looks at the decoders
    };
    StageOutcome runWholeSet(const QString& reference, const SetSettings& settings,
                             const Development& development);

  private:
    bool goOn(SetStage stage);
    StageOutcome develop(const QString& rutaReferencia, const QStringList& archivosRAW,
                         const SetSettings& settings, const Development& development);

    ImageSet& set_;
    Reporter& reporter_;
    SetProgress progress_;
};

// The job "Develop" runs for a set with these settings.
FullDevelopmentJob developmentJob(const QString& rutaReferencia, const QStringList& archivosRAW,
                                  const SetSettings& settings);
