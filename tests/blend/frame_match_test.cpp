// A frame brought to an output, for the screen: the table and step searches
// give what the per-pixel arithmetic gives, in colour and B&W, on any gamma.
#include "blend/frame_match.h"
#include "support/screen_tone.h"

#include <gtest/gtest.h>
#include <random>

namespace {

TEST(FrameMatch, ScreenRowsAreTheMatchedSamplesOverTwoHundredFiftySeven) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> sample(0, 65535);
    GflBitmap frame;
    frame.width = 257;
    frame.height = 64;
    frame.pixels.resize(frame.sampleCount());
    for (uint16_t& s : frame.pixels) s = static_cast<uint16_t>(sample(rng));
    const struct {
        double factor;
        int gammaTenths;
        bool bw;
    } cases[] = {
        {1, 22, false}, {4.37, 22, false}, {0.25, 10, true}, {3.1, 18, true}, {1, 30, true}};
    for (const auto& c : cases) {
        const FrameMatch m{c.factor, inverseGamma(c.gammaTenths), c.bw, mixWeights(40, 20)};
        std::vector<uint8_t> shown(frame.sampleCount());
        MatchedScreen(m).rows(frame, 0, frame.height, shown.data());
        for (size_t i = 0; i < frame.sampleCount(); i += 3) {
            const auto s = matchedSamples(&frame.pixels[i], m);
            for (size_t c3 = 0; c3 < 3; ++c3)
                ASSERT_EQ(shown[i + c3], screenValue(s[c3])) << c.factor << " " << i;
        }
    }
}

}  // namespace
