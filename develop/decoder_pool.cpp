// Scheduling decoder processes over cores and memory.
#include "develop/decoder_pool.h"

#include "develop/decoder_resources.h"

#include <algorithm>

DecoderLimits decoderLimits(int maxProcesses, const std::function<qint64()>& memoryAvailable) {
    DecoderLimits limits;
    limits.maxProcesses = maxProcesses > 0 ? maxProcesses : availableCores();
    // Read once, before any of the set's processes runs: each running process
    // then holds its share of this budget until it ends.
    limits.memoryBudget = memoryAvailable ? memoryAvailable() : availableMemoryBytes();
    return limits;
}

void DecoderPool::reset(const Decoder& decoder, std::vector<DecoderJob> jobs,
                        const DecoderLimits& limits) {
    decoder_ = decoder;
    limits_ = limits;
    limits_.maxProcesses = std::max(1, limits_.maxProcesses);
    entries_.clear();
    entries_.reserve(jobs.size());
    for (DecoderJob& job : jobs)
        entries_.push_back(Entry{std::move(job), DcrawRun(), Stage::Waiting});
}

int DecoderPool::running(const DecoderLauncher& launcher) {
    int n = 0;
    for (Entry& e : entries_) {
        if (e.stage == Stage::Waiting || e.stage == Stage::HandedOver || e.ended) continue;
        e.ended = launcher.ended(e.run);
        if (!e.ended) ++n;
    }
    return n;
}

std::vector<size_t> DecoderPool::startDue(DecoderLauncher& launcher) {
    std::vector<size_t> started;
    int busy = running(launcher);
    qint64 reserved = 0;
    for (const Entry& e : entries_)
        if (e.stage != Stage::Waiting && e.stage != Stage::HandedOver && !e.ended)
            reserved += e.job.memoryBytes;
    for (size_t i = 0; i < entries_.size() && busy < limits_.maxProcesses; ++i) {
        Entry& e = entries_[i];
        if (e.stage != Stage::Waiting) continue;
        // Files start in set order: a small file never overtakes a large one
        // that waits for memory.
        if (busy > 0 && limits_.memoryBudget >= 0 &&
            reserved + e.job.memoryBytes > limits_.memoryBudget)
            break;
        e.run = startRunInto(launcher, decoder_, e.job.options, e.job.rawPath, e.job.tiff);
        e.stage = Stage::Running;
        // A start that failed has ended at once and frees its slot.
        e.ended = launcher.ended(e.run);
        started.push_back(i);
        if (!e.ended) {
            ++busy;
            reserved += e.job.memoryBytes;
        }
    }
    return started;
}

bool DecoderPool::handOverWaiting(DecoderLauncher& launcher) {
    QStringList options, raws;
    for (Entry& e : entries_) {
        if (e.stage != Stage::Waiting) continue;
        if (raws.isEmpty()) options = e.job.options;
        raws << e.job.rawPath;
        e.stage = Stage::HandedOver;
    }
    if (raws.isEmpty()) return false;
    launcher.start(decoder_.program, decoder_.arguments(options, raws));
    return true;
}

void DecoderPool::settle(size_t index, Stage stage) {
    entries_.at(index).stage = stage;
}

bool DecoderPool::allSettled() const {
    return std::all_of(entries_.begin(), entries_.end(), [](const Entry& e) {
        return e.stage != Stage::Waiting && e.stage != Stage::Running;
    });
}

int DecoderPool::count(Stage stage) const {
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(),
                                          [stage](const Entry& e) { return e.stage == stage; }));
}
