// A TIFF decoded a few rows at a time from a file held open, so that a viewer
// decodes bands on several threads (one reader each) and reads the samples
// under the pointer without holding the whole image.
#pragma once

#include "support/gfl_bitmap.h"

#include <cstdint>
#include <memory>
#include <vector>

class OpenedFile;

class TiffRowReader {
  public:
    // Reads the header of `file`, which must outlive the reader. Throws
    // TiffError as readTiffRgb16 does for a file it cannot decode.
    explicit TiffRowReader(const OpenedFile& file);
    ~TiffRowReader();
    TiffRowReader(const TiffRowReader&) = delete;
    TiffRowReader& operator=(const TiffRowReader&) = delete;

    int width() const;
    int height() const;
    // Rows one stored block holds: rows read together inside one block are
    // decoded once.
    int blockRows() const;
    // Rows [first, first + count) as 16-bit RGB, laid out as GflBitmap rows,
    // into `out`. Throws TiffError (or std::bad_alloc) when they cannot be read.
    void readRows(int first, int count, uint16_t* out);

  private:
    struct State;
    std::unique_ptr<State> state_;
};
