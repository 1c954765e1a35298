// The weighted merge: where several images are usable, each is averaged in with
// the inverse of its noise variance, instead of taking the map's one choice.
#pragma once

#include "blend/blend_internal.h"
#include "set/motion.h"
#include "set/noise_model.h"
#include "support/large_buffer.h"

#include <array>
#include <vector>

// The per-pixel weighted merge, row by row, from any threads. Each pixel starts
// from the map's choice (the selection blend's linear value), which sets the
// expected signal of every image; an image contributes when that signal is
// below its clip level (tapering to nothing over the last few percent) and its
// own sample agrees with the choice within the noise. Inside moving areas
// (`areas`, when given) only the images that agree with the area's reference
// there are averaged. `input` and `areas` must outlive it; what it needs of
// `model` is copied.
class WeightedBlender {
  public:
    WeightedBlender(const BlendInput& input, const WeightedModel& model,
                    const MotionAreas* areas = nullptr);
    int32_t width() const { return in_.set.AnchoImagen; }
    int32_t height() const { return in_.set.AltoImagen; }
    size_t imageCount() const { return images_.size(); }
    // Gamma-encoded R, G, B of rows [first, first + count) into `out`; adds each
    // image's share of every pixel's weight to shares[0..n-1].
    void blend(int first, int count, double* out, double* shares) const;

    // One image's terms per channel, R, G, B and a lane that never counts.
    struct Image {
        alignas(16) float q[4];      // exposure factor to the output
        alignas(16) float alpha[4];  // variance in output units: alpha * V + beta
        alignas(16) float beta[4];
        alignas(16) float invClip[4];       // 1 / clip level in output units
        alignas(16) int32_t clipSample[4];  // first developed sample that is clipped
    };

  private:
    const BlendInput& in_;
    const MotionAreas* areas_;
    std::vector<Image> images_;
    std::vector<int> lowest_;  // per image: the darkest image worth averaging with it
    // reach_[top * n + j]: image j's share of its clip level per unit of the
    // top image's share of its own, at most over the channels.
    std::vector<float> reach_;
    std::vector<float> gammaTable_;
};

// A weighted blend done ahead of the output stage, so that its shares can be
// told first: planes for brackets, or else the one output's 16-bit samples
// (6 bytes a pixel instead of the planes' 24), and each image's share of the
// total weight.
struct WeightedResult {
    OutputPlanes planes;
    LargeBuffer samples;         // row-major 16-bit R, G, B of the single output
    std::vector<double> shares;  // per image, summing to the pixel count
    // The rows of output file `factor` (brackets) or of the single output.
    RgbRows rows(double factor) const;
};
// What a weighted blend done ahead keeps of its pixels: planes (brackets),
// the single output's 16-bit samples, or nothing but the shares (an output
// blended again as it is written, see linearWeightedRows).
enum class WeightedKeep { Planes, Samples, SharesOnly };
WeightedResult blendWeighted(const WeightedBlender& blender, WeightedKeep keep);
inline WeightedResult blendWeighted(const WeightedBlender& blender, bool planes) {
    return blendWeighted(blender, planes ? WeightedKeep::Planes : WeightedKeep::Samples);
}
