// Row-band parallel loop on plain threads: the bands are claimed from an atomic
// counter, so an uneven band costs no idle core.
#include "support/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {
std::atomic<int> configuredThreads{0};

// Some library code leaves the upper halves of the AVX registers in use. Our
// loops are plain SSE code, and every switch between them and the AVX code in
// libm (pow, exp) then stalls: pow ran ten times slower here. vzeroupper
// leaves the lower halves, all SSE code sees, as they are.
void cleanVectorState() {
#if defined(__x86_64__) && !defined(__AVX__)
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx) asm volatile("vzeroupper");
#endif
}
}  // namespace

void setParallelThreads(int threads) { configuredThreads = std::max(0, threads); }

int parallelThreads() {
    const int configured = configuredThreads.load();
    if (configured > 0) return configured;
    return std::max(1u, std::thread::hardware_concurrency());
}

int rowBandCount(int rows, int bandRows) {
    if (rows <= 0) return 0;
    bandRows = std::max(1, bandRows);
    return (rows + bandRows - 1) / bandRows;
}

void parallelRows(int rows, int bandRows, const std::function<void(const RowBand&)>& body) {
    bandRows = std::max(1, bandRows);
    const int bands = rowBandCount(rows, bandRows);
    if (bands == 0) return;
    const int threads = std::min(parallelThreads(), bands);
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto work = [&] {
        cleanVectorState();
        for (int b = next++; b < bands; b = next++) {
            try {
                body({b, b * bandRows, std::min(rows, (b + 1) * bandRows)});
            } catch (...) {
                std::lock_guard<std::mutex> lock(failureMutex);
                if (!failure) failure = std::current_exception();
                next = bands;  // stop handing out bands
            }
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(static_cast<size_t>(threads - 1));
    // With memory short a thread (its stack, its state) may not be had: the
    // bands then run on the threads there are, as results never depend on how
    // many, instead of the vector dropping running threads, which would end
    // the program.
    try {
        for (int t = 1; t < threads; ++t) workers.emplace_back(work);
    } catch (const std::exception&) {
    }
    work();
    for (auto& w : workers) w.join();
    if (failure) std::rethrow_exception(failure);
}

void parallelRowsWithProgress(int rows, int bandRows, int chunks,
                              const std::function<void(const RowBand&)>& body,
                              const std::function<void(int percent)>& progress) {
    chunks = std::max(1, std::min(chunks, rows));
    int done = 0;
    for (int c = 0; c < chunks; ++c) {
        const int end = static_cast<int>(static_cast<long long>(rows) * (c + 1) / chunks);
        const int first = done;
        parallelRows(end - first, bandRows, [&](const RowBand& band) {
            body({band.index, first + band.begin, first + band.end});
        });
        done = end;
        if (progress) progress(static_cast<int>(static_cast<long long>(done) * 100 / rows));
    }
}

SharedProgress::SharedProgress(long long total, std::function<void(int percent)> report)
    : total_(std::max(1LL, total)), report_(std::move(report)), owner_(std::this_thread::get_id()) {}

void SharedProgress::done(long long units) {
    const long long now = done_ += units;
    if (!report_ || std::this_thread::get_id() != owner_) return;
    const int percent = static_cast<int>(std::min(total_, now) * 100 / total_);
    if (percent == shown_) return;  // a repaint per percent at most
    shown_ = percent;
    report_(percent);
}

void SharedProgress::finish() {
    if (!report_ || shown_ == 100) return;
    shown_ = 100;
    report_(100);
}

int blockBandRows(int rows, int blockRows) {
    const int blocks = (rows + blockRows - 1) / blockRows;
    return blockRows * std::max(1, blocks / (4 * parallelThreads()));
}
