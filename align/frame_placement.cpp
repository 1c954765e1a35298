// A frame put where image 1 sees the scene, once its move is known.
#include "align/align.h"

void placeFrame(GflBitmap& image, const RigidMove& move, CoveredRows& covered) {
    // Resampling a frame that barely moved would only soften it.
    if (cornerShift(move, image.width, image.height) >= kNegligibleCornerShift)
        resampleInPlace(image, move, covered);
}
