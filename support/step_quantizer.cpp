// The cells of a step quantiser: one per 1/4096 octave from the octave of the
// first step to that of the last.
#include "support/step_quantizer.h"

#include <algorithm>
#include <cmath>

StepQuantizer::StepQuantizer(std::vector<double> steps)
    : steps_(std::move(steps)), top_(static_cast<uint16_t>(steps_.size())) {
    if (steps_.empty()) return;
    int lowest = 0, highest = 0;
    std::frexp(steps_.front(), &lowest);  // steps from 2^(lowest - 1) up
    std::frexp(steps_.back(), &highest);
    low_ = std::ldexp(1.0, lowest - 1);
    base_ = bits(low_) >> (52 - kCellBits);
    const size_t cells = static_cast<size_t>(highest - lowest + 1) << kCellBits;
    first_.resize(cells);
    for (size_t c = 0; c < cells; ++c) {
        // The cell's lowest value: its index as the top bits of a double.
        const double lowest_value = std::bit_cast<double>((base_ + c) << (52 - kCellBits));
        first_[c] = static_cast<uint16_t>(
            std::upper_bound(steps_.begin(), steps_.end(), lowest_value) - steps_.begin());
    }
}
