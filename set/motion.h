// Moving subjects: where neighbouring frames of a set differ by more than
// their noise explains, cleaned into areas that are each shown from one frame
// (the area's reference), and per area sample the frames that agree with the
// reference there. The map chooses among those frames, the weighted merge
// averages only them.
#pragma once

#include "set/frame_set.h"
#include "set/noise_model.h"

#include <cstdint>
#include <functional>
#include <vector>

// Frames per set the agreement lists can hold (one bit each).
constexpr int kMaxMotionImages = 16;

struct MotionSettings {
    int reference = 0;  // 0: each area's own; k: image k for every area
    // Samples every area grows by beyond its rim, for a transition that must
    // lie inside it (the map's progressive blending).
    int widen = 0;
};

// The moving areas of a set, in the set's geometry.
struct MotionAreas {
    int32_t width = 0, height = 0;  // the picture's
    // The rectangle holding every area; the lists below cover it, row-major.
    int32_t left = 0, top = 0, boxWidth = 0, boxHeight = 0;
    std::vector<uint16_t> label;  // 0 outside the areas, else the area's number
    std::vector<uint16_t> agree;  // bit k - 1: image k may be used at this sample
    std::vector<int> references;  // per area (index number - 1): image 1..n
    int64_t samples = 0;          // pixels inside the areas
    // Most of the picture differs: the whole picture is one area, shown from
    // its reference alone (the lists are then left empty).
    bool mostDiffers = false;

    bool none() const { return references.empty(); }
    double share() const {
        return static_cast<double>(samples) / (static_cast<double>(width) * height);
    }
    // The images that may be used at (x, y), one bit each; 0 outside the areas.
    uint16_t allowedAt(int x, int y) const {
        if (mostDiffers) return static_cast<uint16_t>(1u << (references[0] - 1));
        if (x < left || y < top || x >= left + boxWidth || y >= top + boxHeight) return 0;
        return agree[static_cast<size_t>(y - top) * boxWidth + (x - left)];
    }
    // The area at (x, y), 0 outside.
    int areaAt(int x, int y) const {
        if (mostDiffers) return 1;
        if (x < left || y < top || x >= left + boxWidth || y >= top + boxHeight) return 0;
        return label[static_cast<size_t>(y - top) * boxWidth + (x - left)];
    }
};

// Progress of the detection, the share done (0..100), on the calling thread.
using MotionProgress = std::function<void(int percent)>;

// The moving areas of a loaded set with measured exposures, judged against
// the noise the frames show (`model`, from measureWeightedModel). A still set
// gives none. Throws RunError for a set it cannot judge (not loaded, more
// than kMaxMotionImages images, a forced reference outside 1..n).
MotionAreas detectMotion(const FrameSet& set, const WeightedModel& model,
                         const MotionSettings& settings, const MotionProgress& progress = {});
