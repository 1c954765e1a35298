// Frames brought to an output's exposure, gamma and mix, with the very
// arithmetic of the selection blend.
#include "blend/frame_match.h"

#include "blend/blend_internal.h"
#include "support/screen_tone.h"

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

MatchedScreen::MatchedScreen(const FrameMatch& match) : match_(match) {
    if (match.blancoNegro) return;
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
        if (table_.empty()) {
            for (size_t i = 0; i < samples; i += 3)
                out[i] = out[i + 1] = out[i + 2] = screenValue(matchedSamples(p + i, match_)[0]);
            continue;
        }
        for (size_t i = 0; i < samples; ++i) out[i] = table_[p[i]];
    }
}
