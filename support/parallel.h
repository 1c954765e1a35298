// The one helper that splits pixel rows across cores.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

struct RowBand {
    int index;  // 0-based band number: bands are fixed by the row count and band height
    int begin;  // first row
    int end;    // one past the last row
};

// Number of worker threads; 0 (the default) means one per core. Tests set it
// to prove results do not depend on it.
void setParallelThreads(int threads);
int parallelThreads();

// Number of bands parallelRows makes for these rows: ceil(rows / bandRows).
int rowBandCount(int rows, int bandRows);

// Band height for rows stored in blocks of `blockRows` (strips, lines
// compressed together) that each band decodes on its own: whole blocks,
// about four bands a thread.
int blockBandRows(int rows, int blockRows);

// Runs body once per band of `bandRows` rows (the last may be shorter). The
// bands are the same whatever the thread count, so per-band results combined
// in band order give identical totals on any machine. The calling thread works
// too; the first exception thrown by any band is rethrown after all finish.
void parallelRows(int rows, int bandRows, const std::function<void(const RowBand&)>& body);

// parallelRows in a few chunks of rows, calling `progress` on the calling
// thread after each chunk with the share of rows done (0..100), so a window
// can repaint between chunks. Only for work whose result does not depend on
// how rows are grouped.
void parallelRowsWithProgress(int rows, int bandRows, int chunks,
                              const std::function<void(const RowBand&)>& body,
                              const std::function<void(int percent)>& progress);

// Counts units of work finished on any thread. Each time the thread that made
// it finishes a unit of its own, it reports the share done (0..100): a window
// repaints on its own thread while the workers go on.
class SharedProgress {
public:
    SharedProgress(long long total, std::function<void(int percent)> report);
    // Called once per finished unit (or `units` of them), from any thread.
    void done(long long units = 1);
    // Reports 100 on the owner's thread, which may have had no unit to end on.
    void finish();

private:
    long long total_;
    std::function<void(int)> report_;
    std::thread::id owner_;
    std::atomic<long long> done_{0};
    int shown_ = -1;  // touched by the owner only
};
