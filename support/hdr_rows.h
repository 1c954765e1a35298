// Scene-linear and HDR files read back from a file held open, a few rows at a
// time where the format allows: 32-bit float TIFFs, OpenEXR files and HDR
// AVIFs, for a viewer that shows them and reads out their own samples.
#pragma once

#include <cstdint>
#include <memory>

class OpenedFile;

enum class HdrFileKind { FloatTiff, Exr, Avif };

class HdrRowReader {
  public:
    virtual ~HdrRowReader() = default;
    HdrFileKind kind() const { return kind_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // An AVIF's bits per sample; 0 for the float files.
    int depth() const { return depth_; }
    // Rows decoded together (a strip, a block of lines): bands of whole
    // blocks are read once.
    virtual int blockRows() const = 0;
    // Rows [first, first + count) as interleaved R, G, B: linear values of a
    // float file (grey files give three equal channels), full-range PQ codes
    // of an AVIF. Throws RunError or TiffError with the library's message.
    virtual void readRows(int first, int count, float* out) = 0;

  protected:
    HdrFileKind kind_ = HdrFileKind::FloatTiff;
    int width_ = 0, height_ = 0, depth_ = 0;
};

// A reader of `file` (which must outlive it), or null when the file is none
// of these kinds: a 16-bit TIFF, a PNG... An AVIF is decoded whole here (6
// bytes a pixel kept); the others read their header. Throws RunError (or
// TiffError) when the file is of one of these kinds but cannot be read, and
// RunError(kErrOutOfMemory) when it is too large to hold.
std::unique_ptr<HdrRowReader> openHdrRows(const OpenedFile& file);

// The float TIFF's reader (in tiff_rows.cpp); null for a TIFF of integers.
std::unique_ptr<HdrRowReader> openFloatTiffRows(const OpenedFile& file);
