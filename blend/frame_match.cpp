// Frames brought to an output's exposure, gamma and mix, with the very
// arithmetic of the selection blend.
#include "blend/frame_match.h"

#include "blend/blend_internal.h"
#include "blend/hdr_output.h"
#include "support/screen_tone.h"

#include <algorithm>
#include <cmath>

namespace {

uint16_t quantized(double v) {
    uint16_t out = 0;
    quantizeSamples(&v, 1, 1.0, &out);
    return out;
}

}  // namespace

FrameMatch frameMatch(const BlendRecord& record, const std::vector<double>& expRelativas, int k) {
    FrameMatch m;
    const auto at = static_cast<size_t>(k - 1);
    if (record.valid() && at < record.factors.size()) {
        m.factor = record.factors[at];
        m.g = record.g;
        m.blancoNegro = record.blancoNegro;
        m.weights = record.weights;
        if (record.format != OutputFormat::Tiff16) {
            // Linear values on screen as the output's own are shown.
            m.g = inverseGamma(BlendSettings{}.gamma);
            m.output = MatchedOutput::Linear;
        }
        if (record.format == OutputFormat::AvifPq) {
            m.factor *= kLinearOneNits / kSdrWhiteNits;
            m.output = MatchedOutput::None;
        }
        return m;
    }
    m.factor = at < expRelativas.size() ? expRelativas[at] : 1.0;
    m.g = inverseGamma(BlendSettings{}.gamma);
    return m;
}

std::array<uint16_t, 3> matchedSamples(const uint16_t* p, const FrameMatch& m) {
    const double r = genuineValue(p[0], m.factor), g = genuineValue(p[1], m.factor),
                 b = genuineValue(p[2], m.factor);
    if (m.blancoNegro) {
        const uint16_t l = quantized(encodeGamma(mixed(r, g, b, m.weights), m.g));
        return {l, l, l};
    }
    return {quantized(encodeGamma(r, m.g)), quantized(encodeGamma(g, m.g)),
            quantized(encodeGamma(b, m.g))};
}

std::array<double, 3> matchedLinear(const uint16_t* p, const FrameMatch& m) {
    const double r = genuineValue(p[0], m.factor), g = genuineValue(p[1], m.factor),
                 b = genuineValue(p[2], m.factor);
    if (m.blancoNegro) {
        const double l = mixed(r, g, b, m.weights) / 65535;
        return {l, l, l};
    }
    return {r / 65535, g / 65535, b / 65535};
}

namespace {

// The screen value of a B&W mix of linear value l, as matchedSamples makes it.
uint8_t mixOnScreen(double l, float g) {
    return screenValue(quantized(encodeGamma(l, g)));
}

// Where the screen value of a mix steps up: entry v - 1 is the least linear
// value that shows as v or more. Each is found by bisection down to adjacent
// doubles on the very arithmetic of mixOnScreen, which never decreases as l
// grows, so a search in this table gives what the arithmetic gives.
std::vector<double> mixSteps(float g) {
    double top = 65535;
    while (mixOnScreen(top, g) < 255) top *= 2;
    std::vector<double> steps(255);
    for (int v = 1; v <= 255; ++v) {
        double lo = 0, hi = top;  // mixOnScreen(lo) < v <= mixOnScreen(hi)
        if (mixOnScreen(lo, g) >= v) hi = lo;
        while (hi > lo && std::nextafter(lo, hi) < hi) {
            const double mid = lo + (hi - lo) / 2;
            (mixOnScreen(mid, g) >= v ? hi : lo) = mid;
        }
        steps[static_cast<size_t>(v) - 1] = hi;
    }
    return steps;
}

}  // namespace

MatchedScreen::MatchedScreen(const FrameMatch& match) : match_(match) {
    if (match.blancoNegro) {
        mixSteps_ = mixSteps(match.g);
        // Where to start the search for a value of each 1/65536 of the range
        // the steps span: the value at the bucket's lower end.
        bucketScale_ = 65536 / mixSteps_.back();
        mixStart_.resize(65537);
        for (size_t b = 0; b < mixStart_.size(); ++b)
            mixStart_[b] =
                static_cast<uint8_t>(std::upper_bound(mixSteps_.begin(), mixSteps_.end(),
                                                      static_cast<double>(b) / bucketScale_) -
                                     mixSteps_.begin());
        return;
    }
    // A colour sample's screen value depends on that sample alone.
    table_.resize(65536);
    for (int s = 0; s < 65536; ++s)
        table_[static_cast<size_t>(s)] = screenValue(
            quantized(encodeGamma(genuineValue(static_cast<uint16_t>(s), match.factor), match.g)));
}

void MatchedScreen::rows(const GflBitmap& frame, int first, int count, uint8_t* out) const {
    const size_t samples = static_cast<size_t>(frame.width) * 3;
    for (int y = first; y < first + count; ++y, out += samples) {
        const uint16_t* p = frame.row(y);
        if (match_.blancoNegro) {
            const double q = match_.factor;
            for (size_t i = 0; i < samples; i += 3) {
                const double l = mixed(genuineValue(p[i], q), genuineValue(p[i + 1], q),
                                       genuineValue(p[i + 2], q), match_.weights);
                const double b = std::min(l * bucketScale_, 65536.0);
                int v = mixStart_[static_cast<size_t>(b)];
                while (v < 255 && mixSteps_[static_cast<size_t>(v)] <= l) ++v;
                out[i] = out[i + 1] = out[i + 2] = static_cast<uint8_t>(v);
            }
            continue;
        }
        for (size_t i = 0; i < samples; ++i) out[i] = table_[p[i]];
    }
}
