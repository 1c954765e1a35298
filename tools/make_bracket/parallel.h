// Splits row loops of the generator over the machine's cores. Callers make each
// row's result independent of the others, so the thread count never matters.
#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace make_bracket {

// Calls rowFn(y) once for every y in [0, rows). Rows are handed out in small
// chunks from a shared counter so a slow band (the sun's glow costs more than
// flat ground) does not leave a core idle. The first exception is rethrown.
template <typename RowFn>
void parallelRows(int rows, RowFn&& rowFn) {
    constexpr int kChunk = 8;  // rows per hand-out: enough to amortise the atomic
    const int threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 16u));
    std::atomic<int> nextRow{0};
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto worker = [&] {
        try {
            for (int y0 = nextRow.fetch_add(kChunk); y0 < rows; y0 = nextRow.fetch_add(kChunk)) {
                const int y1 = std::min(rows, y0 + kChunk);
                for (int y = y0; y < y1; ++y) rowFn(y);
            }
        } catch (...) {
            const std::lock_guard lock(failureMutex);
            if (!failure) failure = std::current_exception();
            nextRow.store(rows);  // the others stop at their next hand-out
        }
    };
    std::vector<std::jthread> pool;
    for (int i = 1; i < threads; ++i) pool.emplace_back(worker);
    worker();
    pool.clear();  // joins
    if (failure) std::rethrow_exception(failure);
}

}  // namespace make_bracket
