// Developed TIFFs decoded in the background while the rest of the set is still
// developing, so that the load which follows takes them instead of reading
// them again. The load checks each against its file: nothing stale is used.
#pragma once

#include "pipeline/image_set.h"

#include <QSet>
#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class DecoderPool;

class TiffPrefetch {
  public:
    TiffPrefetch() = default;
    ~TiffPrefetch();
    TiffPrefetch(const TiffPrefetch&) = delete;
    TiffPrefetch& operator=(const TiffPrefetch&) = delete;

    // Queues the TIFF of each file the pool has developed since the last call.
    void take(const DecoderPool& pool);
    // Nothing queued and nothing being decoded.
    bool idle();
    // Stops taking files: one being decoded is finished, those not begun are
    // left to the load. Puts what was decoded into `set` for its next load.
    void finish(ImageSet& set);

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<QString> queue_;
    bool busy_ = false;  // the worker is decoding a frame
    QSet<QString> seen_;
    std::vector<TIFFPrecargado> decoded_;
    bool stopping_ = false;
    std::thread worker_;
};
