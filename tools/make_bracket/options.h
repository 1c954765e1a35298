// Command-line options of orrindale-make-bracket and their validation.
#pragma once

#include "mover.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace make_bracket {

struct Options {
    int count = 5;
    double step = 2.0;  // EV between consecutive exposures
    int width = 6000;
    int height = 4000;
    std::uint64_t seed = 1;
    std::filesystem::path out = ".";
    std::string prefix = "IMG_";
    bool shuffle = false;
    bool noise = true;  // false: the noise-free twin of the same bracket
    bool help = false;
    // Handheld: every frame but the least exposed moves by up to shakeShift
    // photosites and shakeDegrees (see shake.h).
    bool shake = false;
    double shakeShift = 0.0;
    double shakeDegrees = 0.0;
    bool textured = false;  // texture at several scales (see Scene::setTextured)
    bool warm = false;      // a warm evening sky and lamp (see Scene::setWarm)
    // A subject that moves between frames (see mover.h).
    bool moving = false;
    Mover mover;
};

// Limits that keep a run sane: sizes a real camera could have (and that fit in
// memory: about 6 bytes per photosite), shutter times within 2^-16..2^4 s.
struct Limits {
    static constexpr int kMinCount = 1, kMaxCount = 32;
    static constexpr double kMinStep = 0.1, kMaxStep = 4.0;
    static constexpr double kMaxSpanEv = 20.0;
    static constexpr int kMinSide = 16, kMaxSide = 16384;
    static constexpr std::int64_t kMaxPixels = 100'000'000;
    // A shake beyond these is no longer a handheld bracket.
    static constexpr double kMaxShakeShare = 0.25;  // of the shorter side
    static constexpr double kMaxShakeDegrees = 10.0;
};

// Returns the options, or nothing with `error` set to a one-line reason.
std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error);

std::string usageText();

}  // namespace make_bracket
