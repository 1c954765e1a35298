// What a set's frames show of the camera: where each image's channels
// saturate in the developed files and how noisy they are (variance = a *
// signal + b per image and channel), measured from the frames themselves.
// The weighted merge weighs by it; whatever judges frames against their
// noise reads it from here.
#pragma once

#include "set/frame_set.h"

#include <array>
#include <cstdint>
#include <vector>

// Noise of one channel of one image in developed units: variance = a * signal + b.
struct ChannelNoise {
    double a = 0;
    double b = 0;
};

// What the frames show of each image (index 0 = image 1) and channel.
struct WeightedModel {
    // The developed value at which the channel saturates; samples at or above
    // it are clipped.
    std::vector<std::array<double, 3>> clipLevel;
    std::vector<std::array<ChannelNoise, 3>> noise;
    // False when the set gave too little to measure and the shot-noise model
    // (variance proportional to the signal, the same for every image) stands in.
    bool measured = false;
};

// A channel's saturation level from its histogram (`counts[v]`, v = 0..65535):
// the start of the pile-up of samples at the top of the values, or 0 when the
// histogram shows none.
int pileUpLevel(const std::vector<uint32_t>& counts);

// Noise of a neighbouring pair of images measured from their differences,
// both taken to share it (one camera, one development): `ratio` is the
// brighter image's exposure over the darker's. Nothing when the pair shows
// too few well-exposed samples over too narrow a range.
struct PairNoise {
    bool measured = false;
    std::array<ChannelNoise, 3> channel{};
};
// Samples outside `darkerSeen` / `brighterSeen` (when given) are left out:
// after alignment they are not what that image saw.
PairNoise measurePairNoise(const GflBitmap& darker, const GflBitmap& brighter, double ratio,
                           const std::array<double, 3>& brighterClip,
                           const CoveredRows* darkerSeen = nullptr,
                           const CoveredRows* brighterSeen = nullptr);

// Each channel's clip level in a loaded set's developed frames: the lowest
// pile-up any image shows, full scale where none shows one (nothing clipped).
std::array<int, 3> setClipLevels(const FrameSet& set);

// Clip levels and noise of every image of a loaded, measured set.
WeightedModel measureWeightedModel(const FrameSet& set);
