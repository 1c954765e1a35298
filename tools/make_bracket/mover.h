// A moving subject for brackets that are not still: a textured box that
// shifts by a fixed step from one exposure to the next, laid over whatever
// the frame sees behind it.
#pragma once

#include <cstdint>
#include <vector>

namespace make_bracket {

// In photosites: the box's top-left corner and size in the least exposed
// frame, and its shift per frame (exposure index).
struct Mover {
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
    double dx = 0.0, dy = 0.0;
};

// Lays the subject over `electrons` (one frame's expected photo-electrons
// per photosite at the reference time, as referenceElectrons gives them)
// where it stands in frame `exposureIndex`. Its edges are anti-aliased by
// their coverage of each photosite; its texture moves with it.
void addMover(const Mover& mover, int exposureIndex, int width, int height,
              std::vector<float>& electrons);

}  // namespace make_bracket
