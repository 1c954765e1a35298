// A picture for the screen: 8-bit RGB at full resolution (3 bytes a pixel)
// and its reduced levels, each a 2 x 2 average of the one before, down to a
// few hundred pixels a side. A view reads the full level at 100 % and above,
// and the level nearest its scale below.
#pragma once

#include "support/large_buffer.h"
#include "support/view_placement.h"

#include <QImage>
#include <QSize>
#include <atomic>
#include <cstdint>
#include <vector>

// Interleaved 8-bit R, G, B, row-major without padding.
struct Rgb8Plane {
    int width = 0;
    int height = 0;
    LargeBuffer pixels;

    Rgb8Plane() = default;
    // Throws RunError(kErrOutOfMemory) when the memory cannot be had.
    Rgb8Plane(int w, int h);
    size_t bytes() const { return static_cast<size_t>(width) * height * 3; }
    uint8_t* row(int y) const { return pixels.as<uint8_t>() + static_cast<size_t>(y) * width * 3; }
};

class PicturePyramid {
  public:
    explicit PicturePyramid(Rgb8Plane full);

    // Adds the reduced levels (on all cores); until then views read the full
    // level only. Throws RunError(kErrOutOfMemory), keeping the levels made.
    void buildLevels();
    // The reduced levels of `full`, made on any thread (all cores) while the
    // full level is on screen; empty when `stop` was set meanwhile. Throws
    // RunError(kErrOutOfMemory).
    static std::vector<Rgb8Plane> reducedLevels(const Rgb8Plane& full,
                                                const std::atomic<bool>& stop);
    // Takes levels reducedLevels made of this pyramid's full level.
    void adoptLevels(std::vector<Rgb8Plane> levels);

    QSize size() const { return QSize(levels_[0].width, levels_[0].height); }
    int levelCount() const { return static_cast<int>(levels_.size()); }
    const Rgb8Plane& level(int k) const { return levels_[static_cast<size_t>(k)]; }
    // Bytes of every level.
    size_t bytes() const;

  private:
    std::vector<Rgb8Plane> levels_;
};

// The view of `device` pixels (RGB32) of a pyramid placed as `placement`
// says, over `background`: from 100 % up each device pixel shows the picture
// pixel under its centre, so that a crop at 100 % is the picture's own
// pixels; below, the nearest larger level is interpolated.
QImage renderView(const PicturePyramid& pyramid, const ViewPlacement& placement, QSize device,
                  QRgb background);
