// The blend's stages as the procedures of this folder share them.
#pragma once

#include "blend/blend.h"

#include <array>
#include <functional>
#include <memory>
#include <vector>

class Reporter;

// The per-pixel blend's inputs: the set, the map's grey levels, the exposure
// factors after ETTR, the inverse gamma and, for B&W, the channel weights.
struct BlendInput {
    struct Level {
        int k = 0;
        float f = 0;
        bool genuine = true;
        bool used = false;  // some map pixel has this level
    };
    const ImageSet& set;
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

// After the procedure's first log line: checks that the set's decoding table
// was built for it, loads the map and checks its size, with the messages of
// each refusal. False when the procedure must end with -1 (already told);
// throws on a map that cannot be read.
bool openMap(const ImageSet& set, const QString& rutaMapa, bool keepColours, MapLevels& map,
             Reporter& reporter);
// Image 1 as it is on disk now. A file unchanged since the set was loaded is
// not decoded again; a failed reload (reported) or a file of another size
// leaves the loaded image in place.
void reloadLeastExposed(ImageSet& set, Reporter& reporter);
// Each image's share of `total` (contribution indexed 1..n), in percent to
// one decimal, then the share of the `blended` ones as "% genuine pixels".
void logShares(const ImageSet& set, const std::vector<double>& contribution, double total,
               double blended, Reporter& reporter);

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
// The ETTR step: logs and, below full scale, scales every factor.
void applyETTR(const ImageSet& set, const BlendSettings& settings, std::vector<double>& factors,
               Reporter& reporter);
// One bracket's 16-bit image, made row by row as it is saved: each plane value
// times F, rounded half to even and clipped at 65535. `planes` must outlive it.
RgbRows quantizedRows(const OutputPlanes& planes, double factor);
// The same image with each strip's rows blended as it is saved, so that a
// single output never holds the planes. `blender` must outlive it.
RgbRows blendedRows(const RowBlender& blender, double factor);
// Plane values times `factor`, rounded half to even and clipped at 65535.
void quantizeSamples(const double* in, size_t samples, double factor, uint16_t* out);
// The output stage: one file, or one per bracket, beside the reference file.
// The files carry the developed frames' colour space with the output gamma,
// the shot's data and a line on how they were made.
void writeOutputs(const QString& rutaReferencia, const BlendSettings& settings, float g,
                  const RowBlender& blender, const ImageSet& set, Reporter& reporter);
// The same from rows the caller makes for bracket o (1-based) and its factor.
void writeOutputFiles(const QString& rutaReferencia, const BlendSettings& settings, float g,
                      const ImageSet& set, Reporter& reporter,
                      const std::function<RgbRows(int o, double factor)>& rowsOf);
