// The blend's computations as the blends, the contact sheet and the output
// writers share them.
#pragma once

#include "blend/blend.h"

#include <array>
#include <functional>
#include <memory>
#include <vector>

// The per-pixel blend's inputs: the set, the map's grey levels, the exposure
// factors after ETTR, the inverse gamma and, for B&W, the channel weights.
struct BlendInput {
    struct Level {
        int k = 0;
        float f = 0;
        bool genuine = true;
        bool used = false;  // some map pixel has this level
    };
    const FrameSet& set;
    const std::vector<uint8_t>& levelMap;  // row-major grey level per pixel
    const std::vector<double>& factors;    // q(1..n) at index 0..n-1
    float g;
    bool blancoNegro;
    MixWeights weights;
    std::array<Level, 256> levels{};
};

// The per-pixel blend, row by row: the tables of genuine colour values are
// built once, then any rows can be blended, from several threads at once.
// `input` must outlive it.
class RowBlender {
public:
    explicit RowBlender(const BlendInput& input);
    int32_t width() const { return in_.set.AnchoImagen; }
    int32_t height() const { return in_.set.AltoImagen; }
    // The gamma-encoded R, G, B of rows [first, first + count), row-major.
    void blend(int first, int count, double* out) const;

private:
    const BlendInput& in_;
    std::vector<std::vector<double>> tables_;  // by image number; empty when unused
};

// The three gamma-encoded planes, interleaved R, G, B per pixel, row-major.
struct OutputPlanes {
    int32_t width = 0;
    int32_t height = 0;
    std::unique_ptr<double[]> values;
};

// Every row blended at once, for outputs that share them.
OutputPlanes blendPlanes(const RowBlender& blender);

// What one grey level of the map stands for: image k, or a blend of k and
// k + 1 with weight f of k + 1.
struct MapPosition {
    int k = 0;
    float f = 0;
    bool genuine = true;
};
std::array<MapPosition, 256> decodeLevels(const std::vector<float>& tabla);

// The map's pixels counted per grey level, and the progressive map: genuine
// pixels red, the others in the map's own colour.
struct MapClasses {
    std::array<uint64_t, 256> pixelsPerLevel{};
    QImage progressiveMap;
};
MapClasses classifyMap(const MapLevels& map, const std::array<MapPosition, 256>& levels);

// Each image's share of the pixels counted per level (index 1..n) and the
// number of pixels blended from two images. Throws "Subscript out of range"
// for a level that names an image the set of n images does not have.
struct LevelShares {
    std::vector<double> contribution;
    uint64_t blended = 0;
};
LevelShares sharesOfLevels(const std::array<uint64_t, 256>& counts,
                           const std::array<MapPosition, 256>& levels, int n);

// The blend's inputs for the levels of a map: each level's position and
// whether any pixel has it.
void setInputLevels(BlendInput& input, const std::array<MapPosition, 256>& levels,
                    const std::array<uint64_t, 256>& counts);

// Linear value of one channel, exactly as the blend forms it.
inline double genuineValue(uint16_t s, double q) { return s * q; }
inline double progressiveValue(uint16_t s1, double q1, uint16_t s2, double q2, float f) {
    return s1 * q1 * (1.0 - static_cast<double>(f)) + s2 * q2 * static_cast<double>(f);
}
// The B&W mix of three linear values, weights widened to double; a residue
// below 0 (green weight rounded under zero on a pixel without red and blue)
// counts as 0.
inline double mixed(double r, double g, double b, const MixWeights& w) {
    const double l = static_cast<double>(w.r) * r + static_cast<double>(w.g) * g +
                     static_cast<double>(w.b) * b;
    return l < 0 ? 0 : l;
}

// The brightest value of image 1: of any channel, or of the rounded B&W mix.
int32_t brightestValue(const GflBitmap& image, bool blancoNegro, const MixWeights& weights);
// The ETTR gain for a brightest value m (1..65534): every relative exposure
// scaled so that m reaches full scale.
std::vector<double> ettrFactors(const std::vector<double>& expRelativas, int32_t m);
// One bracket's 16-bit image, made row by row as it is saved: each plane value
// times F, rounded half to even and clipped at 65535. `planes` must outlive it.
RgbRows quantizedRows(const OutputPlanes& planes, double factor);
// The same image with each strip's rows blended as it is saved, so that a
// single output never holds the planes. `blender` must outlive it.
RgbRows blendedRows(const RowBlender& blender, double factor);
// Plane values times `factor`, rounded half to even and clipped at 65535.
void quantizeSamples(const double* in, size_t samples, double factor, uint16_t* out);
