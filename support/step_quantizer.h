// Quantisation by a rising encoding known through its steps, without
// computing the encoding per value: for PQ codes and the gamma 2.2 preview,
// where two powers a sample cost more than the rest of the output stage.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

// Code k holds the values from steps[k - 1] (inclusive) up to steps[k]; code 0
// everything below steps[0], the highest code everything from the last step
// up. A value finds its code from a table indexed by the top bits of its
// double and a few comparisons, so the code is exact against the steps.
class StepQuantizer {
  public:
    // `steps`: rising, positive, at most 65535 of them.
    explicit StepQuantizer(std::vector<double> steps);
    uint16_t operator()(double v) const {
        if (!(v >= low_)) return 0;
        const uint64_t cell = (bits(v) >> (52 - kCellBits)) - base_;
        auto code = cell < first_.size() ? first_[cell] : top_;
        while (code < top_ && v >= steps_[code]) ++code;
        return code;
    }

  private:
    // 4096 cells an octave: a few steps a cell at most where the codes are
    // densest (16-bit gamma 2.2 near full scale).
    static constexpr int kCellBits = 12;
    static uint64_t bits(double v) { return std::bit_cast<uint64_t>(v); }

    std::vector<double> steps_;
    std::vector<uint16_t> first_;  // per cell: the code of its lowest value
    double low_ = 0;               // the first cell's lowest value
    uint64_t base_ = 0;            // its index in the doubles' top bits
    uint16_t top_ = 0;             // the highest code
};
