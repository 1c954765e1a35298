// Small copies of the pictures an operation makes, for the window to show
// without reading the files again: square blocks averaged, at most
// kReducedSide pixels a side, so a copy stays a few megabytes at any size.
#pragma once

#include <QImage>
#include <QSize>
#include <atomic>
#include <cstdint>
#include <memory>

struct RgbRows;
class SharedProgress;

// Long side of a reduced copy: a little over the preview box.
constexpr int kReducedSide = 640;

// Side of the square blocks that make one reduced pixel: the smallest whole
// number that brings both sides to kReducedSide or less (1 for small pictures).
int reductionFactor(int width, int height);
// The reduced picture's size: each side divided by the factor, rounded up
// (the last blocks may be partial and average the pixels they have).
QSize reducedSize(int width, int height);

// Averages 16-bit RGB rows into an 8-bit copy as they are made, from any
// thread and in any order, each row once. A sample of v shows as v / 257
// (rounded halves to even), as a viewer shows a 16-bit file.
class ReducedRgb16 {
  public:
    ReducedRgb16(int width, int height);
    // `count` rows starting at row `first`, interleaved RGB without padding.
    void addRows(int first, int count, const uint16_t* rows);
    // The copy (RGB32); only meaningful once every row has been added.
    QImage picture() const;

  private:
    int width_, height_, factor_;
    QSize size_;
    // Integer sums: the total does not depend on the order rows arrive in.
    std::unique_ptr<std::atomic<uint64_t>[]> sums_;
};

// A reduced copy of an 8-bit picture (grey or colour), averaged the same way.
QImage reducedPicture(const QImage& picture);

// `rows` as they are encoded, also averaged into `copy` (when not null) and
// counted in `progress` (one unit per row). Both must outlive the result.
RgbRows watchedRows(const RgbRows& rows, ReducedRgb16* copy, SharedProgress& progress);
