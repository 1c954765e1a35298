// Turns the scene into raw Bayer frames: colour response, exposure time,
// photon shot noise, read noise, black level, quantisation and clipping.
#pragma once

#include "scene.h"

#include <cstdint>
#include <vector>

namespace make_bracket {

// Expected photo-electrons per photosite (RGGB mosaic, row-major) at the
// reference exposure time. Computed once per set; every frame scales it.
std::vector<float> referenceElectrons(const Scene& scene, int width, int height);

// Raw DN of one frame exposed `relativeExposure` times the reference time.
// The noise depends only on (seed, exposureIndex, row), so a frame's bytes are
// the same whatever the thread count or the order frames are made in. Without
// `noise` each photosite is its mean rounded: the truth a noisy frame is
// measured against.
void exposeFrame(const std::vector<float>& reference, int width, int height,
                 double relativeExposure, std::uint64_t seed, int exposureIndex, bool noise,
                 std::vector<std::uint16_t>& raw);

}  // namespace make_bracket
