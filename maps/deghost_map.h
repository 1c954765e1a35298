// The map where subjects move: inside each moving area the most exposed image
// that agrees with the area's reference, passing into the normal choice over
// the area's rim.
#pragma once

#include "maps/maps.h"
#include "set/motion.h"

// The grey map of a set with moving areas. `indices` is the index map,
// `antiGhost` it after anti-ghosting (radius antiGhost + progressive, or the
// index map itself below 1), `grey` the normal grey map built from it.
// Outside the areas `grey` is kept as it is. Inside, the areas' own index
// map goes through the same anti-ghosting and progressive blending, each
// image number raised where needed to one that agrees there; the progressive
// blend reaches the normal map only within the progressive radius of an
// area's edge, and a blend of two images is kept only where both agree.
// With most of the picture differing, every pixel is the reference's.
ByteMap deghostedGreyMap(const FrameSet& set, const std::array<int32_t, 3>& umbral,
                         const ByteMap& indices, const ByteMap& antiGhost, ByteMap grey,
                         const MotionAreas& areas, const MapSettings& settings);
