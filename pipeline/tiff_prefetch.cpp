// One worker thread decodes developed TIFFs in the order they appear.
#include "pipeline/tiff_prefetch.h"

#include "develop/decoder_pool.h"
#include "develop/decoder_resources.h"
#include "support/gfl_bitmap.h"
#include "support/paths.h"

#include <QFileInfo>

namespace {

// A decoded frame may not take memory the running decoders still need: it
// is read ahead only while twice its size and this much more are free.
constexpr qint64 kMemoryReserve = qint64{512} << 20;

bool roomFor(const QString& tiff) {
    const qint64 available = availableMemoryBytes();
    return available < 0 || available > 2 * QFileInfo(tiff).size() + kMemoryReserve;
}

}  // namespace

TiffPrefetch::~TiffPrefetch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void TiffPrefetch::take(const DecoderPool& pool) {
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        for (const DecoderPool::Entry& e : pool.entries()) {
            if (e.stage != DecoderPool::Stage::Developed || seen_.contains(e.job.tiff)) continue;
            seen_.insert(e.job.tiff);
            queue_.push_back(e.job.tiff);
            queued = true;
        }
        // Not idle until the worker, about to start, has looked at the queue.
        if (queued && !worker_.joinable()) busy_ = true;
    }
    if (!queued) return;
    if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
    wake_.notify_one();
}

void TiffPrefetch::run() {
    for (;;) {
        QString path;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            busy_ = false;
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopping
            path = queue_.front();
            queue_.pop_front();
            busy_ = true;
        }
        if (!roomFor(path)) continue;
        TIFFPrecargado frame;
        // The version is taken first: a file rewritten meanwhile no longer matches.
        frame.path = path;
        frame.stamp = fileStamp(path);
        // A file that fails here is read again by the load, which reports it.
        if (loadBitmapQuiet(path, frame.image).failed) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        decoded_.push_back(std::move(frame));
    }
}

bool TiffPrefetch::idle() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.empty() && !busy_;
}

void TiffPrefetch::finish(ImageSet& set) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        // The load reads what is left on all cores at once.
        queue_.clear();
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    for (TIFFPrecargado& frame : decoded_) set.TIFFsPrecargados.push_back(std::move(frame));
    decoded_.clear();
}
