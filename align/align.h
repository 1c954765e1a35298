// Handheld brackets: how each frame moved against image 1 (shift and rotation),
// and the frames resampled into image 1's geometry before they are measured.
#pragma once

#include "align/rigid_move.h"
#include "set/frame_set.h"
#include "support/gfl_bitmap.h"

#include <functional>
#include <vector>

// What "Calc EV" reads from the "Align" check box (or --align).
struct AlignSettings {
    bool alinear = false;  // off at start-up
};

// Moves larger than these are not trusted: the frame is used as shot.
constexpr double kMaxShiftShare = 0.05;  // of the width
constexpr double kMaxTurnDegrees = 3.0;
// A move that displaces no corner by this much is left alone: resampling
// would only soften the frame.
constexpr double kNegligibleCornerShift = 0.02;

// Outcome for one image: its move in image 1's frame, or not aligned.
struct FrameAlignment {
    bool aligned = false;
    RigidMove move;  // image k at (x, y) shows what image 1 shows at move(x, y)
};

// Estimates how each image moved against image 1 (index 0, always aligned
// with the identity). Images must be sorted from the least exposed and share
// one size. Each image is matched against the nearest earlier image that
// could be aligned, on log luminance over the pixels usable in both, so the
// exposure difference does not matter. Results never depend on the thread count.
// `progress`, when given, hears the share of frames and pairs done (0..100)
// on the calling thread.
std::vector<FrameAlignment> estimateMoves(const std::vector<const GflBitmap*>& images,
                                          const std::function<void(int percent)>& progress = {});

// The rows of `width` x `height` covered by a frame moved by `move`: samples
// whose source lies inside the frame as shot.
CoveredRows coveredRows(const RigidMove& move, int width, int height);

// Image k resampled into image 1's geometry in its own memory (clamped cubic,
// no ringing; a few hundred rows to spare, not a second frame). Uncovered
// samples become 0 and are listed as such in `covered`. The move must keep
// the frame upright within a quarter turn.
void resampleInPlace(GflBitmap& image, const RigidMove& move, CoveredRows& covered);

// After the relative exposures: every uncovered sample of image k >= 2 is
// taken from image k - 1 (itself filled) times their exposure ratio, capped at
// 65535, so later stages read plausible values there. The coverage stays, so
// the map still passes over the samples an image did not see.
void fillUncovered(FrameSet& set);

// Image k brought into image 1's geometry by its estimated move: resampled,
// unless the move displaces no corner by kNegligibleCornerShift.
void placeFrame(GflBitmap& image, const RigidMove& move, CoveredRows& covered);
