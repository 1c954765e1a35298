// LZW for GIF, coded in runs on all cores. The code widths follow the usual
// encoder: a code is written with the current width, which grows after a code
// once the next free code reaches 2^width (up to 12 bits), and a full table
// (next free code 4095) is cleared with a clear code.
#include "support/gif_lzw.h"

#include "support/parallel.h"

#include <algorithm>

namespace {

constexpr int kMaxCode = 4095;
// Pixels per independently coded run: large enough that a fresh table costs
// nothing noticeable, small enough to give every core work.
constexpr size_t kRunPixels = 1 << 20;

class BitWriter {
  public:
    void put(uint32_t code, int bits) {
        acc_ |= static_cast<uint64_t>(code) << used_;
        used_ += bits;
        while (used_ >= 8) {
            bytes_.push_back(static_cast<uint8_t>(acc_));
            acc_ >>= 8;
            used_ -= 8;
        }
    }
    // Appends another writer's bits after these.
    void append(const BitWriter& other) {
        for (uint8_t b : other.bytes_) put(b, 8);
        if (other.used_ > 0) put(static_cast<uint32_t>(other.acc_), other.used_);
    }
    std::vector<uint8_t> finish() {
        if (used_ > 0) bytes_.push_back(static_cast<uint8_t>(acc_));
        used_ = 0;
        acc_ = 0;
        return std::move(bytes_);
    }

  private:
    std::vector<uint8_t> bytes_;
    uint64_t acc_ = 0;
    int used_ = 0;
};

// One run coded as if right after a clear code; `width` ends as the width the
// next code (the next run's clear, or the end code) is written with.
struct Run {
    BitWriter bits;
    int width = 0;
};

void encodeRun(const uint8_t* px, size_t count, int minCodeSize, Run& run) {
    const int clear = 1 << minCodeSize;
    // table[code * 256 + index] = the code of that string extended by index, 0 for none.
    std::vector<uint16_t> table(static_cast<size_t>(kMaxCode + 1) * 256, 0);
    std::vector<uint32_t> filled;
    filled.reserve(kMaxCode + 1);
    int width = minCodeSize + 1;
    int limit = 1 << width;
    int next = clear + 2;
    auto emit = [&](int code) {
        run.bits.put(static_cast<uint32_t>(code), width);
        if (next >= limit && code <= kMaxCode && width < 12) {
            ++width;
            limit <<= 1;
        }
    };
    int current = px[0];
    for (size_t i = 1; i < count; ++i) {
        const uint32_t key = static_cast<uint32_t>(current) * 256 + px[i];
        if (table[key] != 0) {
            current = table[key];
            continue;
        }
        emit(current);
        current = px[i];
        if (next >= kMaxCode) {
            emit(clear);
            for (uint32_t k : filled) table[k] = 0;
            filled.clear();
            width = minCodeSize + 1;
            limit = 1 << width;
            next = clear + 2;
        } else {
            table[key] = static_cast<uint16_t>(next++);
            filled.push_back(key);
        }
    }
    emit(current);
    run.width = width;
}

}  // namespace

std::vector<uint8_t> gifLzwEncode(const uint8_t* indexes, size_t count, int minCodeSize) {
    const int clear = 1 << minCodeSize;
    const size_t runs = std::max<size_t>(1, (count + kRunPixels - 1) / kRunPixels);
    std::vector<Run> coded(runs);
    parallelRows(static_cast<int>(runs), 1, [&](const RowBand& band) {
        for (int r = band.begin; r < band.end; ++r) {
            const size_t first = static_cast<size_t>(r) * kRunPixels;
            const size_t n = std::min(kRunPixels, count - first);
            if (n > 0) encodeRun(indexes + first, n, minCodeSize, coded[static_cast<size_t>(r)]);
        }
    });
    BitWriter out;
    int width = minCodeSize + 1;  // the width a reader expects for the next code
    for (const Run& run : coded) {
        out.put(static_cast<uint32_t>(clear), width);
        out.append(run.bits);
        if (run.width > 0) width = run.width;
    }
    out.put(static_cast<uint32_t>(clear + 1), width);
    return out.finish();
}
