// One decoder process per RAW file, at most as many at once as the cores and
// the free memory allow; the next file starts as soon as a process ends.
#pragma once

#include "develop/dcraw_process.h"

#include <functional>
#include <vector>

struct DecoderJob {
    QStringList options;     // the development options, the same for every file of a set
    QString rawPath;         // the file, passed last
    QString tiff;            // the file its run waits for
    qint64 memoryBytes = 0;  // what its process is expected to hold
};

struct DecoderLimits {
    int maxProcesses = 1;
    qint64 memoryBudget = -1;  // bytes for all processes together; < 0: no limit
};

// Limits for a development starting now: `maxProcesses` (0 = one per core)
// and the free memory as `memoryAvailable` tells it (empty = MemAvailable).
DecoderLimits decoderLimits(int maxProcesses, const std::function<qint64()>& memoryAvailable);

class DecoderPool {
  public:
    // HandedOver: given to the single process of handOverWaiting.
    enum class Stage { Waiting, Running, Developed, Failed, HandedOver };
    struct Entry {
        DecoderJob job;
        DcrawRun run;
        Stage stage = Stage::Waiting;
        bool ended = false;  // its process has been seen to end (for good)
    };

    // Takes a new set of jobs, none started, for `decoder` to develop.
    // Processes of an earlier set that still run are left alone and no longer
    // counted.
    void reset(const Decoder& decoder, std::vector<DecoderJob> jobs, const DecoderLimits& limits);
    // The same with dcraw at `program`.
    void reset(const QString& program, std::vector<DecoderJob> jobs, const DecoderLimits& limits) {
        reset(Decoder::dcraw(program), std::move(jobs), limits);
    }

    // Starts waiting jobs in order while a slot is free and the memory still
    // holds the next one. A job may always start when none of this pool's
    // processes runs, so a file larger than the budget is still developed,
    // alone. Returns the indexes started.
    std::vector<size_t> startDue(DecoderLauncher& launcher);

    // Starts every waiting job in one process that develops them one after
    // another, as a single decoder run would; nothing waits for it. For a
    // caller that stops following the set but must not drop its files.
    // Returns false when nothing was waiting.
    bool handOverWaiting(DecoderLauncher& launcher);

    // Processes of this pool that have not ended.
    int running(const DecoderLauncher& launcher);

    // A started job whose outcome is known.
    void settle(size_t index, Stage stage);

    const std::vector<Entry>& entries() const { return entries_; }
    bool allSettled() const;
    int count(Stage stage) const;
    const DecoderLimits& limits() const { return limits_; }

  private:
    Decoder decoder_;
    std::vector<Entry> entries_;
    DecoderLimits limits_;
};
