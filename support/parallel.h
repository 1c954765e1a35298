// The one helper that splits pixel rows across cores.
#pragma once

#include <functional>

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

// Runs body once per band of `bandRows` rows (the last may be shorter). The
// bands are the same whatever the thread count, so per-band results combined
// in band order give identical totals on any machine. The calling thread works
// too; the first exception thrown by any band is rethrown after all finish.
void parallelRows(int rows, int bandRows, const std::function<void(const RowBand&)>& body);
