// Rows of a scene-linear RGB image made as they are saved, for the writers of
// floating-point files: values in double, 1.0 = full scale of a 16-bit output.
#pragma once

#include <cstdint>
#include <functional>

// fill(first, count, out) puts rows [first, first + count) into `out`,
// interleaved R, G, B per pixel without padding. It may be called from several
// threads at once, for rows that never overlap. Values are never negative and
// may pass 1.0 by any amount.
struct LinearRgbRows {
    int32_t width = 0;
    int32_t height = 0;
    std::function<void(int32_t first, int32_t count, double* out)> fill;

    bool empty() const { return width <= 0 || height <= 0 || !fill; }
};
