// The moves of a whole set: each frame matched against its neighbour (the
// pairs on all cores), the matches chained into image 1's frame, and frames
// that cannot be matched left as shot while the chain goes on past them.
#include "align/align.h"
#include "align/pair_match.h"

#include "support/errors.h"
#include "support/parallel.h"

#include <cmath>

namespace {

bool withinLimits(const RigidMove& m, int width) {
    return std::hypot(m.dx, m.dy) <= kMaxShiftShare * width &&
           std::fabs(m.degrees()) <= kMaxTurnDegrees;
}

}  // namespace

std::vector<FrameAlignment> estimateMoves(const std::vector<const GflBitmap*>& images,
                                          const std::function<void(int percent)>& progress) {
    const int n = static_cast<int>(images.size());
    std::vector<FrameAlignment> result(static_cast<size_t>(n));
    if (n == 0) return result;
    result[0].aligned = true;
    if (n < 2) return result;
    const int width = images[0]->width, height = images[0]->height;
    for (const GflBitmap* image : images)
        if (image->width != width || image->height != height ||
            image->pixels.size() != image->sampleCount())
            throw RunError(kErrInvalidArgument, QStringLiteral("The images differ in size"));

    // Frames are prepared side by side: the smoothing of a level runs on one
    // core, so one frame at a time would leave the other cores idle.
    std::vector<MatchFrame> frames(static_cast<size_t>(n));
    SharedProgress counted(2LL * n - 1, progress);
    parallelRows(n, 1, [&](const RowBand& band) {
        for (int k = band.begin; k < band.end; ++k) {
            frames[static_cast<size_t>(k)] = prepareFrame(*images[static_cast<size_t>(k)]);
            counted.done();
        }
    });

    // Every frame against the one before it, one pair per band.
    std::vector<PairMatch> pairs(static_cast<size_t>(n));
    parallelRows(n - 1, 1, [&](const RowBand& band) {
        for (int k = band.begin + 1; k < band.end + 1; ++k) {
            pairs[static_cast<size_t>(k)] =
                matchPair(frames[static_cast<size_t>(k) - 1], frames[static_cast<size_t>(k)]);
            counted.done();
        }
    });
    counted.finish();

    // The chain: a frame that could not be aligned is skipped, and the next
    // one is matched again against the last frame that was.
    int last = 0;
    for (int k = 1; k < n; ++k) {
        PairMatch match = pairs[static_cast<size_t>(k)];
        if (last != k - 1)
            match = matchPair(frames[static_cast<size_t>(last)], frames[static_cast<size_t>(k)]);
        if (!match.ok) continue;
        const RigidMove move = compose(result[static_cast<size_t>(last)].move, match.move);
        if (!withinLimits(move, width)) continue;
        result[static_cast<size_t>(k)] = {true, move};
        last = k;
    }
    return result;
}
