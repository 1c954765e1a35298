// "Develop" without a window: the full development of a RAW set with one
// dcraw process per file on all cores, and the highlight-recovery re-run.
//
// The caller starts it and then polls it: the window from its 3000 ms timers,
// a headless caller from a loop. Everything the user is told goes through the
// Reporter; nothing here waits for a process.
//
//     DetachedLauncher launcher;
//     FullDevelopment development(launcher, reporter, imageSet);
//     DevelopmentStatus s = development.start(job);
//     while (isPending(s)) { sleep 100 ms; s = development.poll(); }
//     // Complete: numRevelados() > 1 allows "Calc EV".
//
// or simply developToEnd(development, job).
#pragma once

#include "develop/dcraw_command.h"
#include "develop/dcraw_messages.h"
#include "develop/decoder_choice.h"
#include "develop/decoder_pool.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

struct ImageSet;
class Reporter;

// What to develop.
struct FullDevelopmentJob {
    QString rutaReferencia;    // the reference RAW path: its folder holds the set
    QStringList archivosRAW;   // the set: names without folder, in set order
    DevelopSettings settings;  // the development options
    bool hlRecovery = false;   // re-develop the least exposed file with -H 2 afterwards
    DecoderSetting decoder = DecoderSetting::Automatic;
    QString rutaDCRAW = RutaDCRAW;
    QString rutaLibRaw = RutaLibRaw;

    DecoderPaths decoderPaths() const { return {rutaDCRAW, rutaLibRaw}; }
};

// How to run it.
struct FullDevelopmentOptions {
    int maxProcesses = 0;                     // at once; 0 = one per core
    std::function<qint64()> memoryAvailable;  // free bytes; empty = MemAvailable
    int highlightWaitMs = 4000;               // pause before the set is loaded for recovery
    // The window's length limit on each file's command line. The batch
    // passes arguments as a list, with no shell, so the limit guards nothing.
    bool limitCommandLength = true;
};

enum class DevelopmentStatus {
    NotStarted,         // start() found no decoder: an earlier development goes on unchanged
    Idle,               // nothing under way (nothing to develop, a line over the limit, ...)
    Developing,         // processes of the set are running or waiting to start
    FilesDone,          // every file has ended; the next poll() pauses, loads and sorts
                        // the set and starts the highlight-recovery run
    HighlightRecovery,  // the least exposed file is being developed again
    Complete,           // finished: "DONE", the quick line shown, the beep
    Failed,             // ended without completing; already reported
};

// True while the caller should keep polling.
inline bool isPending(DevelopmentStatus s) {
    return s == DevelopmentStatus::Developing || s == DevelopmentStatus::FilesDone ||
           s == DevelopmentStatus::HighlightRecovery;
}

class FullDevelopment {
  public:
    // The launcher, reporter and image set must outlive this object. The set
    // is loaded, sorted and released again for highlight recovery (it then
    // holds the file lists and TIFFMenosExpuesto, and no pixels).
    FullDevelopment(DecoderLauncher& launcher, Reporter& reporter, ImageSet& set,
                    FullDevelopmentOptions options = {});

    // Lists the set, chooses its decoder, deletes the TIFFs it will wait for
    // (beside the RAW files, or in the set's folder when it has one),
    // checks each file's command line against the length limit and starts
    // the first processes.
    // A development still under way is dropped (its processes run on).
    DevelopmentStatus start(const FullDevelopmentJob& job);

    // One completion check: starts files whose turn has come, reports each
    // file whose process ended without a whole TIFF (once), and when every
    // file has ended completes the development or moves on to highlight
    // recovery. Re-entered (from events the reporter lets run) it does nothing.
    DevelopmentStatus poll();

    // Starts files whose turn has come and nothing else: no status line, no
    // box. Cheap enough to call every 100 ms so a core never idles long.
    void startDueFiles();

    // The window reads the highlight-recovery toggle and the settings of the
    // re-run when the files are done, as the user may change them meanwhile.
    // A headless caller keeps those of the job.
    void updateChoices(const DevelopSettings& settings, bool hlRecovery);

    // Hands the files not yet started to one decoder process that develops
    // them one after another; nothing waits for it. For a caller that is
    // leaving: the TIFFs still appear, as after a single-process development.
    void handOverWaitingFiles();

    DevelopmentStatus status() const { return status_; }
    int16_t numRevelados() const { return numRevelados_; }      // files handed to dcraw
    int16_t ultimoRevelado() const { return ultimoRevelado_; }  // 1-based entry handed last
    // The decoder of the set under way (or last developed).
    const Decoder& decoder() const { return decoder_; }
    // Every run started so far (files, then the recovery run), for its messages.
    DcrawMessageFeed& messages() { return messages_; }
    const DecoderPool& pool() const { return pool_; }

  private:
    DevelopmentStatus pollFiles();
    DevelopmentStatus loadAndSortForRecovery();
    DevelopmentStatus startHighlightRecovery();
    DevelopmentStatus pollHighlightRecovery();
    DevelopmentStatus complete();
    void followStarted(const std::vector<size_t>& started);

    DecoderLauncher& launcher_;
    Reporter& reporter_;
    ImageSet& set_;
    FullDevelopmentOptions options_;
    FullDevelopmentJob job_;
    Decoder decoder_ = Decoder::dcraw();
    DecoderPool pool_;
    DcrawRun highlightRun_;
    DcrawMessageFeed messages_;
    DevelopmentStatus status_ = DevelopmentStatus::Idle;
    int16_t numRevelados_ = 0;
    int16_t ultimoRevelado_ = 0;
    bool inCall_ = false;
};

// Starts the job and polls it every `pollMs` until it is no longer pending;
// returns how it ended. For callers without an event loop; `afterPoll` runs
// after each poll (to take files as they are developed).
DevelopmentStatus developToEnd(FullDevelopment& development, const FullDevelopmentJob& job,
                               int pollMs = 100, const std::function<void()>& afterPoll = {});
