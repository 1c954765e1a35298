// The output stage's scene-linear and HDR encodings: the blend's own values
// for floating-point files, BT.2100 PQ codes with their light levels for HDR
// AVIF, and the 16-bit samples their previews are drawn from.
#pragma once

#include "blend/blend_internal.h"
#include "support/avif_writer.h"
#include "support/linear_rows.h"
#include "support/step_quantizer.h"

#include <array>
#include <memory>
#include <vector>

class WeightedBlender;

// Scene-linear values: 1.0 is full scale (65535) of the 16-bit output at
// gamma 1 with the same settings; the blend runs at gamma 1 for them.
// A single output blended as it is written, times the bracket factor.
LinearRgbRows linearBlendedRows(const RowBlender& blender, double factor);
// From planes blended once for a bracketed series.
LinearRgbRows linearPlaneRows(const OutputPlanes& planes, double factor);
// The weighted merge's single output blended again as it is written (the
// first pass only told the shares), rather than kept between the passes
// (12 bytes a pixel as floats, against the 16-bit TIFF's 6).
LinearRgbRows linearWeightedRows(const WeightedBlender& blender);

// HDR on today's screens (ITU-R BT.2100): linear 1.0 shows at 1000 cd/m², so
// SDR reference white (203 cd/m²) lies 2.3 stops below image 1's clip level;
// PQ reaches 10000 cd/m².
constexpr double kLinearOneNits = 1000;
constexpr double kSdrWhiteNits = 203;
constexpr double kPqPeakNits = 10000;

// SMPTE ST 2084: the PQ signal (0..1) of a luminance in cd/m² (clipped to
// 0..10000), and back.
double pqFromNits(double nits);
double nitsFromPq(double signal);

// PQ code rows of scene-linear rows: each pixel taken to BT.2020 by
// `toBt2020` (row-major 3 x 3; values outside BT.2020 clip to 0), shown at
// kLinearOneNits per 1.0 up to 10000 cd/m², PQ-encoded and rounded to the
// nearest of `bits` bits' codes, full range. The light levels are gathered as the rows are made,
// from any threads, in a way that does not depend on their order.
class PqRows {
  public:
    // `linear` must outlive this object and its rows.
    PqRows(const LinearRgbRows& linear, const std::array<double, 9>& toBt2020, int bits);
    RgbRows rows();
    // Once every row has been made: the brightest channel of the brightest
    // pixel and the mean over the pixels of their brightest channel, in cd/m²
    // as CTA-861.3 states MaxCLL and MaxFALL (rounded, halves to even).
    ContentLightLevel contentLight() const;

  private:
    void encode(int32_t first, int32_t count, uint16_t* out);

    const LinearRgbRows& linear_;
    std::array<double, 9> m_;
    StepQuantizer codes_;  // cd/m² to PQ codes
    // Per row: the brightest channel's largest value and their sum, in cd/m².
    std::vector<double> rowMax_, rowSum_;
};

// 16-bit samples of linear values times `scale` as the 16-bit TIFF at gamma
// 2.2 holds them (full scale at 1.0, clipped above; the nearest sample, found
// by its steps rather than a power per value): what the previews of
// floating-point outputs (scale 1) and of PQ ones (their SDR part, scale
// kLinearOneNits / kSdrWhiteNits) are drawn from.
void previewSamples(const double* linear, size_t samples, double scale, uint16_t* out);
