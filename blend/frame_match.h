// What shaped an output, recorded by the blend, and a frame brought to that
// output: its linear samples times the exposure factor the output used (the
// relative exposure, with the ETTR gain when there was one), gamma-encoded and
// mixed as the output was, so that the frame compares directly with the
// output. Where the map took a pixel whole from a frame, the frame shows the
// output's own samples there.
#pragma once

#include "blend/blend.h"

#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

struct BlendRecord {
    std::vector<double> factors;  // exposure factor of image k at k - 1, ETTR included
    float g = 0;                  // inverse output gamma; 0 = nothing recorded
    bool blancoNegro = false;
    MixWeights weights{};  // the B&W mix
    BlendMerge merge = BlendMerge::Select;
    QString rutaMapa;              // the map blended through
    std::vector<float> tablaMapa;  // its decoding table
    QStringList imagenes;          // file names of images 1..n
    OutputFormat format = OutputFormat::Tiff16;

    bool valid() const { return g > 0 && !factors.empty(); }
};

// What the output holds where it takes a pixel whole from a frame: 16-bit
// samples at its gamma, linear values (float TIFF, OpenEXR), or nothing a
// frame's samples tell directly (the AVIF's PQ codes of BT.2020 colours).
enum class MatchedOutput { Gamma16, Linear, None };

// How the output would show a frame of the set: the output's factor of that
// image, its inverse gamma and its B&W mix. Frames of a scene-linear output
// show at gamma 2.2, as the output itself shows; of an HDR AVIF, brightened
// as its SDR part is.
struct FrameMatch {
    double factor = 1;
    float g = 1;
    bool blancoNegro = false;
    MixWeights weights{};
    MatchedOutput output = MatchedOutput::Gamma16;
};

// Frame `k` (1-based) of a set of `images` as the record's output saw it; a
// set blended into no output yet is shown as a blend with the default gamma
// (1 / 2.2) would show it, each image at `expRelativas` (1 when not measured).
FrameMatch frameMatch(const BlendRecord& record, const std::vector<double>& expRelativas, int k);

// The 16-bit R, G, B the output holds where it takes this pixel whole from
// the frame.
std::array<uint16_t, 3> matchedSamples(const uint16_t* pixel, const FrameMatch& match);

// The linear values (1.0 = full scale) a scene-linear output holds there.
std::array<double, 3> matchedLinear(const uint16_t* pixel, const FrameMatch& match);

// The matched samples as the screen shows them (v / 257, rounded).
class MatchedScreen {
  public:
    explicit MatchedScreen(const FrameMatch& match);
    // Rows [first, first + count) of `frame` as 8-bit RGB rows without
    // padding into `out`; from several threads at once.
    void rows(const GflBitmap& frame, int first, int count, uint8_t* out) const;

  private:
    FrameMatch match_;
    std::vector<uint8_t> table_;     // colour: screen value of each sample
    std::vector<double> mixSteps_;   // B&W: where the screen value steps up
    std::vector<uint8_t> mixStart_;  // B&W: the value at each bucket's lower end
    double bucketScale_ = 0;         // buckets per unit of the mix
};
